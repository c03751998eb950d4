#pragma once

#include <QString>

#include <curl/curl.h>

namespace nodalis {

// The libcurl calls the FTP transport makes, loaded by the first FTP
// exchange rather than with the program: a server that never speaks FTP,
// and every stand-alone send, starts without libcurl and the twenty
// libraries it pulls in.
struct CurlCalls
{
    CURL* (*easy_init)();
    void (*easy_cleanup)(CURL*);
    void (*easy_reset)(CURL*);
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    const char* (*easy_strerror)(CURLcode);
    char* (*easy_escape)(CURL*, const char*, int);
    void (*free)(void*);
    CURLM* (*multi_init)();
    CURLMcode (*multi_cleanup)(CURLM*);
    CURLMcode (*multi_add_handle)(CURLM*, CURL*);
    CURLMcode (*multi_remove_handle)(CURLM*, CURL*);
    CURLMcode (*multi_setopt)(CURLM*, CURLMoption, ...);
    CURLMcode (*multi_perform)(CURLM*, int*);
    CURLMcode (*multi_socket_action)(CURLM*, curl_socket_t, int, int*);
    CURLMsg* (*multi_info_read)(CURLM*, int*);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
};

// The calls, loaded and initialised on the first call; nullptr, with why
// set, when the library or one of its calls cannot be found. A failed load
// is tried again by the next call.
const CurlCalls* LoadCurl(QString* why);

} // namespace nodalis
