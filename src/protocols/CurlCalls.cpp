#include "protocols/CurlCalls.h"

#include <QLibrary>

#include <type_traits>

namespace nodalis {

const CurlCalls* LoadCurl(QString* why)
{
    static CurlCalls calls{};
    static bool loaded = false;
    if (loaded)
        return &calls;
    // Kept loaded for the life of the process: handles outlive any caller.
    static QLibrary library(QStringLiteral("curl"), 4);
    if (!library.isLoaded() && !library.load()) {
        *why = library.errorString();
        return nullptr;
    }
    bool ok = true;
    const auto need = [&](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(library.resolve(name));
        if (!fn && ok) {
            *why = library.fileName() + QStringLiteral(": ") + QLatin1String(name) +
                   QStringLiteral(" missing");
            ok = false;
        }
    };
    CURLcode (*globalInit)(long) = nullptr;
    need(globalInit, "curl_global_init");
    need(calls.easy_init, "curl_easy_init");
    need(calls.easy_cleanup, "curl_easy_cleanup");
    need(calls.easy_reset, "curl_easy_reset");
    need(calls.easy_setopt, "curl_easy_setopt");
    need(calls.easy_getinfo, "curl_easy_getinfo");
    need(calls.easy_strerror, "curl_easy_strerror");
    need(calls.easy_escape, "curl_easy_escape");
    need(calls.free, "curl_free");
    need(calls.multi_init, "curl_multi_init");
    need(calls.multi_cleanup, "curl_multi_cleanup");
    need(calls.multi_add_handle, "curl_multi_add_handle");
    need(calls.multi_remove_handle, "curl_multi_remove_handle");
    need(calls.multi_setopt, "curl_multi_setopt");
    need(calls.multi_perform, "curl_multi_perform");
    need(calls.multi_socket_action, "curl_multi_socket_action");
    need(calls.multi_info_read, "curl_multi_info_read");
    need(calls.slist_append, "curl_slist_append");
    need(calls.slist_free_all, "curl_slist_free_all");
    if (!ok)
        return nullptr;
    if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        *why = QStringLiteral("libcurl could not be initialised");
        return nullptr;
    }
    loaded = true;
    return &calls;
}

} // namespace nodalis
