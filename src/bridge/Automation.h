#pragma once
// The part of OLE Automation that the page's external object is written against. Linux has no
// COM, so this keeps the system's interface ids, status codes and calling conventions (arguments
// last-first, results in a caller-owned variant) for the few types the object needs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace automation {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DISPID = std::int32_t;
using LCID = std::uint32_t;
using WORD = std::uint16_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);

inline constexpr DISPID DISPID_UNKNOWN = -1;

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;

struct GUID {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    bool operator==(const GUID&) const = default;
};
using IID = GUID;

inline constexpr IID IID_NULL{};
// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00020400-0000-0000-C000-000000000046}
inline constexpr IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A script value: empty, a string (VT_BSTR) or a boolean (VT_BOOL). The variant owns its text,
// so whoever holds a result owns the string the callee allocated into it, as with a BSTR.
class VARIANT {
public:
    VARIANT() = default;
    static VARIANT String(std::string text) {
        VARIANT v;
        v.m_vt = VT_BSTR;
        v.m_bstrVal = std::move(text);
        return v;
    }
    static VARIANT Bool(VARIANT_BOOL value) {
        VARIANT v;
        v.m_vt = VT_BOOL;
        v.m_boolVal = value;
        return v;
    }

    VARTYPE vt() const { return m_vt; }
    const std::string& bstrVal() const { return m_bstrVal; }  // empty unless VT_BSTR
    VARIANT_BOOL boolVal() const { return m_boolVal; }        // 0 unless VT_BOOL

    // VariantClear: back to VT_EMPTY, the text released.
    void Clear() { *this = VARIANT(); }

    bool operator==(const VARIANT&) const = default;

private:
    VARTYPE m_vt = VT_EMPTY;
    std::string m_bstrVal;
    VARIANT_BOOL m_boolVal = 0;
};

// The arguments of one call, in reverse script order: rgvarg[0] is the last script argument.
// Named arguments are not supported by the page's object and have no place here.
struct DISPPARAMS {
    std::vector<VARIANT> rgvarg;
    std::size_t cArgs() const { return rgvarg.size(); }
};

// Exception details a method may fill in; the page's object never raises one.
struct EXCEPINFO {
    std::string description;
};

class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;  // objects are not deleted through their interfaces
};

class ITypeInfo;

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(unsigned* count) = 0;
    virtual HRESULT GetTypeInfo(unsigned index, LCID locale, ITypeInfo** typeInfo) = 0;
    // names[0..count) are looked up into ids[0..count).
    virtual HRESULT GetIDsOfNames(const IID& iid, const std::string* names, unsigned count, LCID locale,
                                  DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, const IID& iid, LCID locale, WORD flags, const DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, unsigned* argError) = 0;

protected:
    ~IDispatch() override = default;
};

}  // namespace automation
