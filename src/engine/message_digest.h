#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Incremental message digest: add data in any number of pieces, then take the digest once.
class IMessageDigest {
public:
    virtual ~IMessageDigest() = default;
    virtual void AddData(const void* data, std::size_t length) = 0;
    // The raw digest bytes. The digest cannot take data afterwards: later AddData calls are
    // ignored and later FinalDigest calls return the same bytes. Empty if the digest failed.
    virtual std::string FinalDigest() = 0;
};

// A digest computed by the crypto library's algorithm of the given name.
class CEvpDigest : public IMessageDigest {
public:
    ~CEvpDigest() override;
    void AddData(const void* data, std::size_t length) override;
    std::string FinalDigest() override;

protected:
    explicit CEvpDigest(const char* algorithm);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// MD5 (16 bytes).
class CMD5 final : public CEvpDigest {
public:
    CMD5() : CEvpDigest("MD5") {}
};

// SHA-1 (20 bytes).
class CSHA final : public CEvpDigest {
public:
    CSHA() : CEvpDigest("SHA1") {}
};
