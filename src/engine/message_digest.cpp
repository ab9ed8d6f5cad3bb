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

struct CMD5::State {
    EvpDigest m_digest{EVP_md5()};
};

CMD5::CMD5() : m_state(std::make_unique<State>()) {}
CMD5::~CMD5() = default;

void CMD5::AddData(const void* data, std::size_t length) {
    m_state->m_digest.Add(data, length);
}

std::string CMD5::FinalDigest() {
    return m_state->m_digest.Final();
}

struct CSHA::State {
    EvpDigest m_digest{EVP_sha1()};
};

CSHA::CSHA() : m_state(std::make_unique<State>()) {}
CSHA::~CSHA() = default;

void CSHA::AddData(const void* data, std::size_t length) {
    m_state->m_digest.Add(data, length);
}

std::string CSHA::FinalDigest() {
    return m_state->m_digest.Final();
}
