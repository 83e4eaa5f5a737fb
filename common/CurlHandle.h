// Owners for libcurl easy handles and the lists libcurl takes (header lists
// and multipart forms), and the options every transfer of the program sets.
#pragma once

#include <winsock2.h>  // before windows.h, as libcurl needs it

#include <curl/curl.h>

#include <memory>

// The statistics upload is written for the multipart form API, which newer
// libcurl marks deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace curl_owners {

struct EasyCleanup {
    void operator()(CURL* curl) const {
        if (curl) curl_easy_cleanup(curl);
    }
};
struct ListFree {
    void operator()(curl_slist* list) const {
        if (list) curl_slist_free_all(list);
    }
};
struct FormFree {
    void operator()(curl_httppost* form) const {
        if (form) curl_formfree(form);
    }
};

}  // namespace curl_owners

// An easy handle; null when curl_easy_init failed.
using CurlEasy = std::unique_ptr<CURL, curl_owners::EasyCleanup>;
// A header list built with curl_slist_append.
using CurlList = std::unique_ptr<curl_slist, curl_owners::ListFree>;
// A multipart form built with curl_formadd.
using CurlForm = std::unique_ptr<curl_httppost, curl_owners::FormFree>;

inline CurlEasy MakeCurlEasy() { return CurlEasy(curl_easy_init()); }

// Appends a header line; the list stays as it was when libcurl cannot copy it.
// False then.
bool AppendCurlList(CurlList& list, const char* line);

// The options every transfer sets: the URL, where the body goes, no signals
// (transfers run on threads of their own, where libcurl must not rely on
// alarms for its time-outs), and no check of the peer's certificate, as
// every peer of the installer is reached.
void SetBaseOptions(CURL* curl, const char* url, curl_write_callback write, void* data);

// A multipart form under construction: each Add appends one part, given as
// curl_formadd's option pairs without the closing CURLFORM_END.
class CurlFormBuilder {
public:
    template <typename... Options>
    bool Add(Options... options) {
        curl_httppost* head = form_.release();
        CURLFORMcode rc = curl_formadd(&head, &last_, options..., CURLFORM_END);
        form_.reset(head);
        return rc == CURL_FORMADD_OK;
    }
    curl_httppost* get() const { return form_.get(); }

private:
    CurlForm form_;
    curl_httppost* last_ = nullptr;
};

#pragma GCC diagnostic pop
