// Speed of the field cipher and its check code, against a plain CRC-32 pass over the same
// cipher-text bytes as the baseline that DecryptField cannot beat (it checks a CRC of them).
#include <benchmark/benchmark.h>

#include <string>

#include "store/field_cipher.h"

namespace {

constexpr const char* kKey = "a sign-in password";

// A value of n bytes: ASCII with a double-byte character now and then, as account fields are.
std::string MakeValue(std::size_t n) {
    std::string v;
    const std::string pattern = "user.name@example.com 中文 ";
    while (v.size() < n) {
        v += pattern;
    }
    v.resize(n);
    if (v.back() == ' ') {
        v.back() = 'x';
    }
    return v;
}

void BM_EncryptField(benchmark::State& state) {
    const std::string value = MakeValue(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ob::Text ct = ob::EncryptField(value, kKey);
        benchmark::DoNotOptimize(ct.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DecryptField(benchmark::State& state) {
    const ob::Text ct = ob::EncryptField(MakeValue(static_cast<std::size_t>(state.range(0))), kKey);
    for (auto _ : state) {
        ob::SecureString v = ob::DecryptField(ct, kKey);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(ct.size()));
    state.counters["cipher_bytes"] = static_cast<double>(ct.size());
}

void BM_ChecksumCode(benchmark::State& state) {
    const std::string value = MakeValue(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ob::Text code = ob::ChecksumCode(value);
        benchmark::DoNotOptimize(code.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The baseline: one CRC-32 over exactly the bytes DecryptField gets for the same value size.
void BM_Crc32CipherText(benchmark::State& state) {
    const ob::Text ct = ob::EncryptField(MakeValue(static_cast<std::size_t>(state.range(0))), kKey);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ob::Crc32(ct.data(), ct.size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(ct.size()));
    state.counters["cipher_bytes"] = static_cast<double>(ct.size());
}

}  // namespace

BENCHMARK(BM_EncryptField)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_DecryptField)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_ChecksumCode)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_Crc32CipherText)->Arg(8)->Arg(64)->Arg(1024);
