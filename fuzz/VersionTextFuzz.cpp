// The version texts the launcher reads: "ClientVersion" and "ClientMiniUpdateVersion" from the
// operator's document, the resume record's "downloadVersion" and the installed version file.
// Input: one or two texts separated by a NUL byte.

#include <cstdint>
#include <tuple>

#include "FuzzSupport.h"
#include "update/LocalClientVersion.h"

namespace {

void CheckRoundTrip(const LocalClientVersion& version) {
    // What the launcher writes (version file, resume record) must read back as the same version.
    fuzzing::Check(ParseVersionText(version.ToString()) == version, "a written version reads back differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzzing::AsText(data, size);
    const size_t cut = input.find('\0');
    const std::string_view first = input.substr(0, cut);
    const std::string_view second = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

    const LocalClientVersion a = ParseVersionText(first);
    const LocalClientVersion b = ParseVersionText(second);
    CheckRoundTrip(a);
    CheckRoundTrip(b);

    // The update decision is "installed < minimum": it must be a strict order by the fields.
    const bool less = a < b;
    const bool greater = b < a;
    fuzzing::Check(!(less && greater), "two versions are each older than the other");
    fuzzing::Check((!less && !greater) == (a == b), "versions neither older nor newer yet not equal");
    const auto fields = [](const LocalClientVersion& v) { return std::tuple(v.first, v.second, v.third, v.fourth); };
    fuzzing::Check(less == (fields(a) < fields(b)), "the version order is not field by field");

    // Offsets of the resume record read the same digits as 64-bit numbers.
    const std::int64_t wide = ParseDecimal64(first);
    const std::int32_t narrow = ParseDecimal32(first);
    if (wide >= INT32_MIN && wide <= INT32_MAX) {
        fuzzing::Check(narrow == wide, "a number reads differently in 32 and 64 bits");
    } else {
        fuzzing::Check(narrow == (wide < 0 ? INT32_MIN : INT32_MAX), "a number beyond 32 bits does not saturate");
    }
    return 0;
}
