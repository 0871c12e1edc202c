// libvaldrune-webext.so: WebKit loads it into every web process of the launcher's page. It gives
// each frame a window.external whose members are the launcher's: reading a member asks the
// launcher for its dispatch id (no id, no member: the read gives undefined), and calling one
// waits for the launcher's answer, which the script gets as undefined, a string or a boolean.
//
// Arguments travel as text. A string goes as it is; null and undefined (and missing arguments)
// go as the empty text; anything else as the text String(x) gives: numbers as 1, 2.5 or NaN,
// booleans as true or false, objects through their own toString. When that conversion throws,
// the call is not made and the page gets the exception.

#include <webkit2/webkit-web-extension.h>

#include <string>
#include <vector>

#include "webext/ScriptClient.h"

namespace {

// The one line to the launcher. Everything in this file runs on the web process's main thread,
// the only thread that runs the page's script.
ScriptClient* g_client = nullptr;

// The instance behind every window.external; its members come from the class's property hook.
int g_externalInstance = 0;
constexpr const char* kClassKey = "valdrune-external-class";

JSCValue* Undefined(JSCContext* context) { return jsc_value_new_undefined(context); }

// The argument as the launcher receives it; false when converting it threw in the page.
bool ArgumentText(JSCContext* context, JSCValue* value, std::string& text) {
    if (jsc_value_is_undefined(value) || jsc_value_is_null(value)) {
        text.clear();
        return true;
    }
    // As bytes, not as a C string: a NUL inside a string must survive.
    GBytes* bytes = jsc_value_to_string_as_bytes(value);
    if (jsc_context_get_exception(context) != nullptr) {
        if (bytes != nullptr) {
            g_bytes_unref(bytes);
        }
        return false;
    }
    gsize size = 0;
    const void* data = bytes != nullptr ? g_bytes_get_data(bytes, &size) : nullptr;
    text.assign(static_cast<const char*>(data), data != nullptr ? size : 0);
    if (bytes != nullptr) {
        g_bytes_unref(bytes);
    }
    return true;
}

JSCValue* ToScript(JSCContext* context, const ScriptValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        // From bytes: the text becomes a string value as it is, never source to evaluate.
        GBytes* bytes = g_bytes_new(text->data(), text->size());
        JSCValue* result = jsc_value_new_string_from_bytes(context, bytes);
        g_bytes_unref(bytes);
        return result;
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return jsc_value_new_boolean(context, *flag);
    }
    return Undefined(context);
}

// A call of a member of window.external; user data is the member's dispatch id.
JSCValue* CallMember(GPtrArray* args, gpointer idData) {
    JSCContext* context = jsc_context_get_current();
    std::vector<std::string> texts(args->len);
    for (guint i = 0; i < args->len; ++i) {
        if (!ArgumentText(context, static_cast<JSCValue*>(g_ptr_array_index(args, i)), texts[i])) {
            return Undefined(context);  // the pending exception reaches the page
        }
    }
    auto result = g_client->Call(GPOINTER_TO_INT(idData), texts);
    if (const auto* failure = std::get_if<ScriptWire::Failure>(&result)) {
        jsc_context_throw(context, failure->message.c_str());
        return Undefined(context);
    }
    return ToScript(context, std::get<ScriptValue>(result));
}

// Every property read on window.external: a member the launcher knows is a function; anything
// else falls through to the ordinary object, where it is undefined.
JSCValue* GetMember(JSCClass*, JSCContext* context, gpointer, const char* name) {
    const int id = g_client->Lookup(name);
    if (id < 0) {
        return nullptr;
    }
    return jsc_value_new_function_variadic(context, name, G_CALLBACK(CallMember), GINT_TO_POINTER(id), nullptr,
                                           JSC_TYPE_VALUE);
}

JSCClass* ExternalClass(JSCContext* context) {
    auto* known = static_cast<JSCClass*>(g_object_get_data(G_OBJECT(context), kClassKey));
    if (known != nullptr) {
        return known;
    }
    static JSCClassVTable vtable = {GetMember, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    JSCClass* created = jsc_context_register_class(context, "External", nullptr, &vtable, nullptr);
    g_object_set_data(G_OBJECT(context), kClassKey, created);
    return created;
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage*, WebKitFrame* frame, gpointer) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    JSCValue* external = jsc_value_new_object(context, &g_externalInstance, ExternalClass(context));
    JSCValue* window = jsc_context_get_global_object(context);
    // Read-only like the host object it stands for; configurable, so a later document of the
    // same frame can have it defined afresh.
    jsc_value_object_define_property_data(
        window, "external", static_cast<JSCValuePropertyFlags>(JSC_VALUE_PROPERTY_CONFIGURABLE), external);
    g_object_unref(window);
    g_object_unref(external);
    g_object_unref(context);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension*,
                                                                                const GVariant* userData) {
    // The launcher hands over its socket path; without it there is nobody to answer the page.
    auto* data = const_cast<GVariant*>(userData);
    if (data == nullptr || !g_variant_is_of_type(data, G_VARIANT_TYPE_STRING)) {
        g_warning("valdrune web extension: no launcher socket given; window.external stays undefined");
        return;
    }
    g_client = new ScriptClient(g_variant_get_string(data, nullptr));  // lives as long as the process
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(OnWindowObjectCleared),
                     nullptr);
}
