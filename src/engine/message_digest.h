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

// MD5 (16 bytes).
class CMD5 final : public IMessageDigest {
public:
    CMD5();
    ~CMD5() override;
    void AddData(const void* data, std::size_t length) override;
    std::string FinalDigest() override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// SHA-1 (20 bytes).
class CSHA final : public IMessageDigest {
public:
    CSHA();
    ~CSHA() override;
    void AddData(const void* data, std::size_t length) override;
    std::string FinalDigest() override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
