#include "tool_request.h"

#include <cstdio>
#include <vector>

namespace marvostell::tools {
namespace {

#ifdef _WIN32
// WinINet keeps a cache of its own; RELOAD asks the server every time.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
#else
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE;
#endif
const HttpRequestStyle kToolRequest = {nullptr, true, kRequestFlags, 0, nullptr};
constexpr DWORD kReadSize = 32768;

class BodySink : public CHttpSink {
public:
    explicit BodySink(const BodyPiece &onData) : m_onData(onData) {}
    bool OnAnswer(DWORD) override { return true; }
    BodyVerdict OnBody(const BYTE *data, DWORD count) override {
        return count == 0 || m_onData(data, count) ? kMore : kStop;
    }

private:
    const BodyPiece &m_onData;
};

}  // namespace

HttpGetResult GetBody(const std::string &server, const std::string &object, int64_t rangeStart,
                      const BodyPiece &onData) {
    char range[48];
    std::snprintf(range, sizeof range, "Range:bytes=%lld-", static_cast<long long>(rangeStart));
    std::vector<BYTE> buffer(kReadSize);
    HttpGetRequest request{server, object, &kToolRequest, rangeStart >= 0 ? range : nullptr};
    request.statusRequired = true;
    request.buffer = buffer.data();
    request.readSize = kReadSize;
    BodySink sink(onData);
    return HttpGet(request, sink);
}

}  // namespace marvostell::tools
