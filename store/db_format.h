// The database file format: a clear header, a body holding the schema and the records (sealed
// with AES-256-GCM under a password key, or in clear with a SHA-256 check), all on byte buffers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/secure.h"
#include "store/account_database.h"
#include "store/crypto.h"

namespace ob::db {

// File layout, all integers little-endian:
//   header (64 bytes, clear; the associated data of the seal)
//     0  magic "OBACCDB" 0x1A     8  version (u16) = 1      10 protection (u8)
//     11 key derivation (u8)      12 header size (u32) = 64 16 iterations (u32)
//     20 salt (16)                36 nonce / write stamp (12)
//     48 change counter (u64)     56 body size (u64)
//   body (body size bytes: cipher text, or the clear body when unprotected)
//   trailer: the GCM tag (16 bytes), or SHA-256 of header and body (32 bytes) when unprotected.
// Clear body:
//   field count (u32); per field: kind (u8), name size (u16), name bytes
//   next record id (u64); record count (u32)
//   per record: id (u64), flags (u8, bit 0 = deletion mark), per field: text = size (u32) and
//   bytes, number = IEEE double (8 bytes).
inline constexpr std::size_t kHeaderSize = 64;
inline constexpr std::uint16_t kFormatVersion = 1;
inline constexpr std::size_t kSaltSize = 16;
inline constexpr std::size_t kShaTrailerSize = crypto::kSha256Size;
inline constexpr std::size_t kTagTrailerSize = crypto::kGcmTagSize;
// Every password the program sets gets this many PBKDF2 iterations.
inline constexpr std::uint32_t kDefaultKdfIterations = 600'000;
// Iteration counts read from a file must lie in 1 ... kMaxKdfIterations (a few seconds at most).
inline constexpr std::uint32_t kMaxKdfIterations = 10'000'000;
// Upper bounds that every length read from a file is checked against before use.
inline constexpr std::uint64_t kMaxBodySize = std::uint64_t{1} << 30;
inline constexpr std::size_t kMaxFields = 255;
inline constexpr std::size_t kMaxFieldNameSize = 255;

enum class Protection : std::uint8_t { None = 0, Password = 1 };

// Wipes like WipingAllocator, and leaves new elements uninitialised (a buffer about to be filled
// by a cipher need not be zeroed first).
template <class T>
struct WipingUninitAllocator : WipingAllocator<T> {
    WipingUninitAllocator() noexcept = default;
    template <class U>
    WipingUninitAllocator(const WipingUninitAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};

using SecureBytes = std::vector<std::uint8_t, WipingUninitAllocator<std::uint8_t>>;

// A 256-bit key, wiped when it dies.
struct Key {
    std::array<std::uint8_t, crypto::kAesKeySize> bytes{};
    Key() = default;
    Key(const Key&) = default;
    Key& operator=(const Key&) = default;
    ~Key() { SecureWipe(bytes.data(), bytes.size()); }
};

struct Header {
    Protection protection = Protection::None;
    std::uint32_t iterations = 0;  // 0 when unprotected
    std::array<std::uint8_t, kSaltSize> salt{};
    std::array<std::uint8_t, crypto::kGcmNonceSize> nonce{};  // fresh at every write
    std::uint64_t change_counter = 0;
    std::uint64_t body_size = 0;

    std::size_t TrailerSize() const {
        return protection == Protection::Password ? kTagTrailerSize : kShaTrailerSize;
    }
    std::uint64_t FileSize() const { return kHeaderSize + body_size + TrailerSize(); }
};

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;
HeaderBytes EncodeHeader(const Header& h);
// The header of a file that starts with bytes, or nothing when they are not one this format
// accepts (every field checked against its bounds). Needs only the first kHeaderSize bytes.
std::optional<Header> ParseHeader(std::span<const std::uint8_t> bytes);

struct FieldDef {
    std::string name;  // GBK bytes, 1 ... kMaxFieldNameSize, no zero byte
    FieldKind kind = FieldKind::Text;
};

// The four account fields of a new database: text fields "网址", "帐号", "密码", "备注".
std::vector<FieldDef> AccountFields();

// The table in memory: the clear body exactly as it is stored, with an index over it, so that
// writing needs no serialisation and reading no allocation per value.
class Table {
  public:
    // An empty table with these fields; nothing when the schema is not valid.
    static std::optional<Table> Create(std::vector<FieldDef> fields);
    // Parses and checks a clear body; nothing when it is malformed in any way.
    static std::optional<Table> Parse(SecureBytes body);

    const std::vector<FieldDef>& fields() const { return fields_; }
    // Index of the first field of that name, or -1.
    int FieldIndex(std::string_view name) const;

    std::size_t size() const { return records_.size(); }
    std::uint64_t Id(std::size_t i) const { return records_[i].id; }
    bool Deleted(std::size_t i) const;
    std::string_view TextAt(std::size_t i, std::size_t field) const;
    double NumberAt(std::size_t i, std::size_t field) const;
    // Position of the record with that id, or nothing (ids grow along the table).
    std::optional<std::size_t> Find(std::uint64_t id) const;
    std::uint64_t NextId() const { return next_id_; }
    bool AnyDeleted() const;

    // Appends a record with a new id. values[k] goes to field k; missing values are the empty
    // text or 0; kinds must already match the fields. False (table unchanged) when the body
    // would outgrow kMaxBodySize or the ids are exhausted.
    bool Append(std::span<const FieldValue> values);
    void SetDeleted(std::size_t i, bool deleted);
    // A copy without the deletion-marked records, the others in their order.
    Table WithoutDeleted() const;

    // Undo of appends: Mark() before, Rollback(mark) to return to it.
    struct Mark {
        std::size_t body_size, records;
        std::uint64_t next_id;
    };
    Mark Save() const { return {body_.size(), records_.size(), next_id_}; }
    void Rollback(const Mark& m);

    std::span<const std::uint8_t> Body() const { return body_; }

  private:
    struct Record {
        std::uint64_t id;
        std::uint32_t offset;  // of the record's id in the body
    };
    Table() = default;
    void WriteCounts();

    std::vector<FieldDef> fields_;
    SecureBytes body_;
    std::size_t counts_offset_ = 0;  // offset of next id and record count
    std::uint64_t next_id_ = 1;
    std::size_t min_record_size_ = 0;
    std::vector<Record> records_;
    std::vector<std::uint32_t> values_;  // per record and field: offset of the value's data
};

// Derives the key of a password for a file with this salt and iteration count.
bool DeriveKey(std::string_view password, std::span<const std::uint8_t, kSaltSize> salt,
               std::uint32_t iterations, Key& out);
// Number of key derivations so far (tests check that a derivation was or was not needed).
std::uint64_t KeyDerivationCount() noexcept;

// The whole file for table under header h (protection, iterations, salt, change counter taken
// from h; the nonce fresh from the system's generator and the body size from the table). key is
// needed for a protected file. Nothing on a failure of the generator or the cipher.
std::optional<std::vector<std::uint8_t>> EncodeFile(const Table& table, Header h, const Key* key);
// The same into out, whose storage is reused; false (out emptied) on failure.
bool EncodeFileInto(const Table& table, Header h, const Key* key, std::vector<std::uint8_t>& out);

// The table held in a whole file whose header h was parsed from it: checks the size, then the
// seal (with key) or the checksum. Nothing for a damaged file or a wrong key.
std::optional<Table> DecodeFile(std::span<const std::uint8_t> file, const Header& h,
                                const Key* key);
// Number of files decoded so far (tests check that a file was or was not read again).
std::uint64_t FileDecodeCount() noexcept;

// The bytes of an empty, unprotected database with these fields (for the tool and tests);
// nothing for an invalid schema.
std::optional<std::vector<std::uint8_t>> NewDatabaseImage(std::vector<FieldDef> fields);

// Reads at most n bytes from the start of a file (sharing it fully with other processes) and
// gives its size. False when it cannot be read.
bool ReadFileHead(const std::filesystem::path& path, std::size_t n, std::vector<std::uint8_t>& out,
                  std::uint64_t& file_size);

}  // namespace ob::db
