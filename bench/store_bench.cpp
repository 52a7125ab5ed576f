// Benchmarks of the account store at 1k, 10k and 100k records, beside their baselines: AES-256-GCM
// over the same bytes and writing and flushing a file of the same size; and the key derivation.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "store/account_database.h"
#include "store/crypto.h"
#include "store/db_format.h"
#include "store/field_cipher.h"
#include "store/file_io.h"

namespace {

namespace fs = std::filesystem;
using namespace ob;

constexpr const char* kPassword = "bench-password";

fs::path BenchDir() {
    static const fs::path d = [] {
        const fs::path p = fs::temp_directory_path() / ("store-bench-" + std::to_string(getpid()));
        fs::create_directories(p);
        return p;
    }();
    return d;
}

// A sealed database of n records whose four fields are field-cipher texts of 10-40 characters,
// made once per size and kept as bytes.
const std::vector<std::uint8_t>& DatabaseImage(int n) {
    static std::map<int, std::vector<std::uint8_t>> images;
    auto it = images.find(n);
    if (it != images.end()) {
        return it->second;
    }
    std::mt19937 rng(static_cast<unsigned>(n));
    std::uniform_int_distribution<int> len(10, 40), ch('!', '~');
    db::Table t = *db::Table::Create(db::AccountFields());
    for (int i = 0; i < n; ++i) {
        FieldValue v[4];
        for (FieldValue& f : v) {
            std::string plain(static_cast<std::size_t>(len(rng)), ' ');
            for (char& c : plain) {
                c = static_cast<char>(ch(rng));
            }
            f = FieldValue::OfText(EncryptField(plain, kPassword));
        }
        t.Append(v);
    }
    db::Header h;
    h.protection = db::Protection::Password;
    h.iterations = db::kDefaultKdfIterations;
    crypto::RandomBytes(h.salt);
    db::Key key;
    db::DeriveKey(kPassword, h.salt, h.iterations, key);
    return images[n] = *db::EncodeFile(t, h, &key);
}

// Puts the image of n records at a fresh path and opens it once (deriving its key).
fs::path FreshDatabase(int n, bool open) {
    CloseDatabase();
    const fs::path p = BenchDir() / ("db-" + std::to_string(n) + ".edb");
    const std::vector<std::uint8_t>& img = DatabaseImage(n);
    fileio::AtomicReplace(p, img);
    if (open && OpenDatabase(p, kPassword) != 1) {
        std::abort();
    }
    return p;
}

void SizeCounters(benchmark::State& state, std::size_t bytes) {
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// OpenDatabase of a sealed file with the derived key cached (as for the main window after
// sign-in), then CloseDatabase at once: read, unseal, parse, index.
void BM_OpenDatabase(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const fs::path p = FreshDatabase(n, true);
    CloseDatabase();
    const std::uint64_t derivations = db::KeyDerivationCount();
    for (auto _ : state) {
        if (OpenDatabase(p, kPassword) != 1) {
            state.SkipWithError("open failed");
        }
        CloseDatabase();
    }
    state.counters["derivations"] = static_cast<double>(db::KeyDerivationCount() - derivations);
    SizeCounters(state, DatabaseImage(n).size());
}

// One AddRecord: the whole file sealed afresh, written, flushed and renamed into place.
void BM_AddRecord(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    FreshDatabase(n, true);
    const FieldValue v[] = {FieldValue::OfText(EncryptField("https://example.com/x", kPassword)),
                            FieldValue::OfText(EncryptField("someone@example.com", kPassword)),
                            FieldValue::OfText(EncryptField("Secret-Passw0rd!", kPassword)),
                            FieldValue::OfText(EncryptField("remark text", kPassword))};
    for (auto _ : state) {
        if (AddRecord(v) != 1) {
            state.SkipWithError("add failed");
        }
    }
    SizeCounters(state, DatabaseImage(n).size());
    CloseDatabase();
}

// One PurgeDeletedRecords removing one marked record (the marking is not timed).
void BM_PurgeDeletedRecords(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    FreshDatabase(n, true);
    for (auto _ : state) {
        state.PauseTiming();
        GoToRecord(GetRecordCount() / 2);
        DeleteCurrentRecord();
        state.ResumeTiming();
        if (PurgeDeletedRecords() != 1) {
            state.SkipWithError("purge failed");
        }
    }
    SizeCounters(state, DatabaseImage(n).size());
    CloseDatabase();
}

// The list rebuild's walk: n x (four ReadField + DecryptField, SkipRecord).
void BM_FullWalk(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    FreshDatabase(n, true);
    const char* names[] = {"网址", "帐号", "密码", "备注"};
    std::size_t plain_bytes = 0;
    for (auto _ : state) {
        GoToFirstRecord();
        const int count = GetRecordCount();
        for (int i = 0; i < count; ++i) {
            for (const char* name : names) {
                const SecureString v = DecryptField(ReadField(name).text, kPassword);
                plain_bytes += v.size();
            }
            SkipRecord();
        }
    }
    benchmark::DoNotOptimize(plain_bytes);
    SizeCounters(state, DatabaseImage(n).size());
    CloseDatabase();
}

// Baseline: AES-256-GCM unsealing of as many bytes as the file holds.
void BM_BaselineAesGcm(benchmark::State& state) {
    const std::size_t size = DatabaseImage(static_cast<int>(state.range(0))).size();
    std::vector<std::uint8_t> plain(size, 0x5A), sealed(size), out(size);
    std::array<std::uint8_t, crypto::kAesKeySize> key{};
    std::array<std::uint8_t, crypto::kGcmNonceSize> nonce{};
    std::array<std::uint8_t, crypto::kGcmTagSize> tag{};
    crypto::AesGcmSeal(key, nonce, {}, plain, sealed, tag);
    for (auto _ : state) {
        if (!crypto::AesGcmOpen(key, nonce, {}, sealed, tag, out)) {
            state.SkipWithError("gcm open failed");
        }
    }
    SizeCounters(state, size);
}

// Baseline: the same, into memory taken afresh each time, as an open must (the clear content
// stays in memory while the database is open). Shows what first touching memory costs here.
void BM_BaselineAesGcmFreshMemory(benchmark::State& state) {
    const std::size_t size = DatabaseImage(static_cast<int>(state.range(0))).size();
    std::vector<std::uint8_t> plain(size, 0x5A), sealed(size);
    std::array<std::uint8_t, crypto::kAesKeySize> key{};
    std::array<std::uint8_t, crypto::kGcmNonceSize> nonce{};
    std::array<std::uint8_t, crypto::kGcmTagSize> tag{};
    crypto::AesGcmSeal(key, nonce, {}, plain, sealed, tag);
    for (auto _ : state) {
        db::SecureBytes out(size);
        if (!crypto::AesGcmOpen(key, nonce, {}, sealed, tag, out)) {
            state.SkipWithError("gcm open failed");
        }
    }
    SizeCounters(state, size);
}

// Baseline: writing a file of the same size and flushing it to the disk.
void BM_BaselineWriteAndFlush(benchmark::State& state) {
    const std::vector<std::uint8_t>& img = DatabaseImage(static_cast<int>(state.range(0)));
    const fs::path p = BenchDir() / "baseline.bin";
    for (auto _ : state) {
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::write(fd, img.data(), img.size()) != static_cast<ssize_t>(img.size()) ||
            ::fsync(fd) != 0) {
            state.SkipWithError("write failed");
        }
        ::close(fd);
    }
    SizeCounters(state, img.size());
}

// Reference: the durable replacement alone (temporary file, flush, rename, folder flush) that
// every write of the store goes through.
void BM_BaselineAtomicReplace(benchmark::State& state) {
    const std::vector<std::uint8_t>& img = DatabaseImage(static_cast<int>(state.range(0)));
    const fs::path p = BenchDir() / "replaced.bin";
    for (auto _ : state) {
        if (!fileio::AtomicReplace(p, img)) {
            state.SkipWithError("replace failed");
        }
    }
    SizeCounters(state, img.size());
}

// The key derivation of every open that finds no cached key: PBKDF2-HMAC-SHA256, 600,000 rounds.
void BM_KeyDerivation(benchmark::State& state) {
    std::array<std::uint8_t, db::kSaltSize> salt{};
    db::Key key;
    for (auto _ : state) {
        db::DeriveKey(kPassword, salt, db::kDefaultKdfIterations, key);
    }
}

#define SIZES Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_OpenDatabase)->SIZES;
BENCHMARK(BM_BaselineAesGcm)->SIZES;
BENCHMARK(BM_BaselineAesGcmFreshMemory)->SIZES;
BENCHMARK(BM_AddRecord)->SIZES->Iterations(20);
BENCHMARK(BM_PurgeDeletedRecords)->SIZES->Iterations(20);
BENCHMARK(BM_BaselineWriteAndFlush)->SIZES->Iterations(20);
BENCHMARK(BM_BaselineAtomicReplace)->SIZES->Iterations(20);
BENCHMARK(BM_FullWalk)->SIZES;
BENCHMARK(BM_KeyDerivation)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
