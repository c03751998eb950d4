#include "protocols/CurlCalls.h"

#include "platform/LibraryCalls.h"

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
    LibraryCalls resolved(library, why);
    CURLcode (*globalInit)(long) = nullptr;
    resolved.need(globalInit, "curl_global_init");
    resolved.need(calls.easy_init, "curl_easy_init");
    resolved.need(calls.easy_cleanup, "curl_easy_cleanup");
    resolved.need(calls.easy_reset, "curl_easy_reset");
    resolved.need(calls.easy_setopt, "curl_easy_setopt");
    resolved.need(calls.easy_getinfo, "curl_easy_getinfo");
    resolved.need(calls.easy_strerror, "curl_easy_strerror");
    resolved.need(calls.easy_escape, "curl_easy_escape");
    resolved.need(calls.free, "curl_free");
    resolved.need(calls.multi_init, "curl_multi_init");
    resolved.need(calls.multi_cleanup, "curl_multi_cleanup");
    resolved.need(calls.multi_add_handle, "curl_multi_add_handle");
    resolved.need(calls.multi_remove_handle, "curl_multi_remove_handle");
    resolved.need(calls.multi_setopt, "curl_multi_setopt");
    resolved.need(calls.multi_perform, "curl_multi_perform");
    resolved.need(calls.multi_socket_action, "curl_multi_socket_action");
    resolved.need(calls.multi_info_read, "curl_multi_info_read");
    resolved.need(calls.slist_append, "curl_slist_append");
    resolved.need(calls.slist_free_all, "curl_slist_free_all");
    if (!resolved.ok())
        return nullptr;
    if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        *why = QStringLiteral("libcurl could not be initialised");
        return nullptr;
    }
    loaded = true;
    return &calls;
}

} // namespace nodalis
