#include "framework/gtk/browser.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

constexpr const char* kEngineLibrary = "libwebkit2gtk-4.1.so.0";

void* engineHandle = nullptr;
std::once_flag opening;
std::string openError;

// Only ever called after openEngineLibrary succeeded (every call comes from
// a browser, made after it). A function the installed library lacks is a
// broken installation: there is no way on, and the calls come from the
// toolkit's callbacks, where nothing may be thrown.
void* engineSymbol(const char* name) {
    void* symbol = engineHandle ? dlsym(engineHandle, name) : nullptr;
    if (!symbol) {
        std::fprintf(stderr, "launcher: the browser engine (%s) has no %s\n", kEngineLibrary, name);
        std::abort();
    }
    return symbol;
}

// Without a GPU nothing in this process draws with GL: GDK's GL is off
// (main.cpp) and every view draws in software. The engine still opens an EGL
// display here, as its first settings object is made or as it starts its
// first page process, which maps Mesa's software driver and LLVM into this
// process. EGL's vendor-neutral library reads its list of vendors once, at
// its first call: asked here first, with no vendor to be found, it leaves
// this process without EGL for good, and the engine does without it. The page
// processes, started later, find their vendors as usual: WebGL stays. A
// vendor list the user set is left alone.
void keepEglVendorsOut() {
    constexpr const char* kFiles = "__EGL_VENDOR_LIBRARY_FILENAMES";
    constexpr int kEglExtensions = 0x3055;
    if (fw::gtk::hasRenderNode() || g_getenv(kFiles) || g_getenv("__EGL_VENDOR_LIBRARY_DIRS"))
        return;
    // Loaded with the engine, which needs it.
    void* egl = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    if (!egl) return;
    using QueryString = const char* (*)(void* display, int name);
    if (auto query = reinterpret_cast<QueryString>(dlsym(egl, "eglQueryString"))) {
        g_setenv(kFiles, "/dev/null", TRUE);
        query(nullptr, kEglExtensions);
        g_unsetenv(kFiles);
    }
    dlclose(egl);
}

} // namespace

namespace fw::gtk {

bool hasRenderNode() {
    static const bool found = [] {
        GDir* dir = g_dir_open("/dev/dri", 0, nullptr);
        if (!dir) return false;
        bool any = false;
        while (const gchar* name = g_dir_read_name(dir))
            if (g_str_has_prefix(name, "renderD")) any = true;
        g_dir_close(dir);
        return any;
    }();
    return found;
}

void openEngineLibrary() {
    std::call_once(opening, [] {
        // Lazily bound, as at a program's start: binding every call of the
        // engine and its libraries at once delays the login page.
        engineHandle = dlopen(kEngineLibrary, RTLD_LAZY | RTLD_LOCAL);
        if (!engineHandle) {
            const char* why = dlerror();
            openError =
                std::string("the browser engine cannot be loaded: ") + (why ? why : kEngineLibrary);
        } else {
            keepEglVendorsOut();
        }
    });
    if (!engineHandle) throw std::runtime_error(openError);
}

} // namespace fw::gtk

// Each engine function the adapter uses, under its own name, with the
// header's signature (the compiler checks the two agree), resolved on its
// first call. The engine's script library comes in as a dependency of the
// engine's and is searched through the same handle. A return type and a
// parameter list cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define ENGINE_FUNCTION(ret, name, params, args)                                                   \
    extern "C" ret name params {                                                                   \
        using Fn = ret(*) params;                                                                  \
        static const Fn real = reinterpret_cast<Fn>(engineSymbol(#name));                          \
        return real args;                                                                          \
    }
// NOLINTEND(bugprone-macro-parentheses)

ENGINE_FUNCTION(GType, webkit_web_view_get_type, (void), ())
ENGINE_FUNCTION(GType, webkit_navigation_policy_decision_get_type, (void), ())
ENGINE_FUNCTION(GType, webkit_response_policy_decision_get_type, (void), ())
ENGINE_FUNCTION(GType, webkit_website_data_manager_get_type, (void), ())
ENGINE_FUNCTION(GQuark, webkit_policy_error_quark, (void), ())
ENGINE_FUNCTION(GQuark, webkit_network_error_quark, (void), ())

ENGINE_FUNCTION(WebKitWebContext*, webkit_web_context_new_with_website_data_manager,
                (WebKitWebsiteDataManager * manager), (manager))
ENGINE_FUNCTION(WebKitSettings*, webkit_settings_new, (void), ())
ENGINE_FUNCTION(void, webkit_settings_set_hardware_acceleration_policy,
                (WebKitSettings * settings, WebKitHardwareAccelerationPolicy policy),
                (settings, policy))
ENGINE_FUNCTION(WebKitUserContentManager*, webkit_user_content_manager_new, (void), ())
ENGINE_FUNCTION(void, webkit_user_content_manager_add_script,
                (WebKitUserContentManager * manager, WebKitUserScript* script), (manager, script))
ENGINE_FUNCTION(gboolean, webkit_user_content_manager_register_script_message_handler_in_world,
                (WebKitUserContentManager * manager, const gchar* name, const gchar* world_name),
                (manager, name, world_name))
ENGINE_FUNCTION(void, webkit_user_content_manager_unregister_script_message_handler_in_world,
                (WebKitUserContentManager * manager, const gchar* name, const gchar* world_name),
                (manager, name, world_name))
ENGINE_FUNCTION(WebKitUserScript*, webkit_user_script_new_for_world,
                (const gchar* source, WebKitUserContentInjectedFrames injected_frames,
                 WebKitUserScriptInjectionTime injection_time, const gchar* world_name,
                 const gchar* const* allow_list, const gchar* const* block_list),
                (source, injected_frames, injection_time, world_name, allow_list, block_list))
ENGINE_FUNCTION(void, webkit_user_script_unref, (WebKitUserScript * user_script), (user_script))

ENGINE_FUNCTION(void, webkit_web_view_load_uri, (WebKitWebView * web_view, const gchar* uri),
                (web_view, uri))
ENGINE_FUNCTION(const gchar*, webkit_web_view_get_uri, (WebKitWebView * web_view), (web_view))
ENGINE_FUNCTION(const gchar*, webkit_web_view_get_title, (WebKitWebView * web_view), (web_view))
ENGINE_FUNCTION(WebKitSettings*, webkit_web_view_get_settings, (WebKitWebView * web_view),
                (web_view))
ENGINE_FUNCTION(WebKitWindowProperties*, webkit_web_view_get_window_properties,
                (WebKitWebView * web_view), (web_view))
ENGINE_FUNCTION(void, webkit_window_properties_get_geometry,
                (WebKitWindowProperties * window_properties, GdkRectangle* geometry),
                (window_properties, geometry))
ENGINE_FUNCTION(void, webkit_web_view_evaluate_javascript,
                (WebKitWebView * web_view, const char* script, gssize length,
                 const char* world_name, const char* source_uri, GCancellable* cancellable,
                 GAsyncReadyCallback callback, gpointer user_data),
                (web_view, script, length, world_name, source_uri, cancellable, callback,
                 user_data))
ENGINE_FUNCTION(JSCValue*, webkit_web_view_evaluate_javascript_finish,
                (WebKitWebView * web_view, GAsyncResult* result, GError** error),
                (web_view, result, error))
ENGINE_FUNCTION(JSCValue*, webkit_javascript_result_get_js_value,
                (WebKitJavascriptResult * js_result), (js_result))

ENGINE_FUNCTION(void, webkit_policy_decision_use, (WebKitPolicyDecision * decision), (decision))
ENGINE_FUNCTION(void, webkit_policy_decision_ignore, (WebKitPolicyDecision * decision), (decision))
ENGINE_FUNCTION(WebKitNavigationAction*, webkit_navigation_policy_decision_get_navigation_action,
                (WebKitNavigationPolicyDecision * decision), (decision))
ENGINE_FUNCTION(WebKitURIRequest*, webkit_navigation_action_get_request,
                (WebKitNavigationAction * navigation), (navigation))
ENGINE_FUNCTION(WebKitURIRequest*, webkit_response_policy_decision_get_request,
                (WebKitResponsePolicyDecision * decision), (decision))
ENGINE_FUNCTION(WebKitURIResponse*, webkit_response_policy_decision_get_response,
                (WebKitResponsePolicyDecision * decision), (decision))
ENGINE_FUNCTION(gboolean, webkit_response_policy_decision_is_main_frame_main_resource,
                (WebKitResponsePolicyDecision * decision), (decision))
ENGINE_FUNCTION(const gchar*, webkit_uri_request_get_uri, (WebKitURIRequest * request), (request))
ENGINE_FUNCTION(guint, webkit_uri_response_get_status_code, (WebKitURIResponse * response),
                (response))
ENGINE_FUNCTION(void, webkit_permission_request_deny, (WebKitPermissionRequest * request),
                (request))
ENGINE_FUNCTION(WebKitScriptDialogType, webkit_script_dialog_get_dialog_type,
                (WebKitScriptDialog * dialog), (dialog))
ENGINE_FUNCTION(void, webkit_script_dialog_confirm_set_confirmed,
                (WebKitScriptDialog * dialog, gboolean confirmed), (dialog, confirmed))

ENGINE_FUNCTION(gboolean, jsc_value_is_object, (JSCValue * value), (value))
ENGINE_FUNCTION(gboolean, jsc_value_is_string, (JSCValue * value), (value))
ENGINE_FUNCTION(JSCValue*, jsc_value_object_get_property, (JSCValue * value, const char* name),
                (value, name))
ENGINE_FUNCTION(char*, jsc_value_to_string, (JSCValue * value), (value))

ENGINE_FUNCTION(WebKitWebView*, webkit_download_get_web_view, (WebKitDownload * download),
                (download))
ENGINE_FUNCTION(void, webkit_download_set_destination,
                (WebKitDownload * download, const gchar* destination), (download, destination))
ENGINE_FUNCTION(void, webkit_download_set_allow_overwrite,
                (WebKitDownload * download, gboolean allowed), (download, allowed))
ENGINE_FUNCTION(void, webkit_download_cancel, (WebKitDownload * download), (download))
