#include "engine/message_digest.h"

#include <openssl/evp.h>

namespace {

struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// One EVP digest run. A context that failed to start (e.g. an algorithm the provider refuses)
// takes data silently and gives an empty digest, so callers never see an exception or a crash.
class EvpDigest {
public:
    explicit EvpDigest(const EVP_MD* type) : m_ctx(EVP_MD_CTX_new()) {
        if (m_ctx && (type == nullptr || EVP_DigestInit_ex(m_ctx.get(), type, nullptr) != 1)) {
            m_ctx.reset();
        }
    }

    void Add(const void* data, std::size_t length) {
        if (m_finished || !m_ctx || length == 0) {
            return;
        }
        if (EVP_DigestUpdate(m_ctx.get(), data, length) != 1) {
            m_ctx.reset();
        }
    }

    std::string Final() {
        if (!m_finished) {
            m_finished = true;
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned int size = 0;
            if (m_ctx && EVP_DigestFinal_ex(m_ctx.get(), digest, &size) == 1) {
                m_digest.assign(reinterpret_cast<const char*>(digest), size);
            }
            m_ctx.reset();
        }
        return m_digest;
    }

private:
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> m_ctx;
    bool m_finished = false;
    std::string m_digest;
};

} // namespace

struct CEvpDigest::State {
    explicit State(const char* algorithm) : m_digest(EVP_get_digestbyname(algorithm)) {}
    EvpDigest m_digest;
};

CEvpDigest::CEvpDigest(const char* algorithm) : m_state(std::make_unique<State>(algorithm)) {}
CEvpDigest::~CEvpDigest() = default;

void CEvpDigest::AddData(const void* data, std::size_t length) {
    m_state->m_digest.Add(data, length);
}

std::string CEvpDigest::FinalDigest() {
    return m_state->m_digest.Final();
}
