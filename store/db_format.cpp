// Encoding, checking and decoding of database files; the in-memory table over the clear body.
#include "store/db_format.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <new>

namespace ob::db {
namespace {

constexpr std::uint8_t kMagic[8] = {'O', 'B', 'A', 'C', 'C', 'D', 'B', 0x1A};
constexpr std::uint8_t kKdfNone = 0;
constexpr std::uint8_t kKdfPbkdf2Sha256 = 1;
constexpr std::uint8_t kDeletedFlag = 1;
constexpr std::size_t kRecordFixedSize = 9;  // id and flags
constexpr std::size_t kNumberSize = 8;
constexpr std::size_t kTextPrefixSize = 4;

std::atomic<std::uint64_t> g_derivations{0};
std::atomic<std::uint64_t> g_decodes{0};

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
void Put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}
std::uint64_t Get64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

// Sequential reader that never reads past the end; every failed read sticks.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }
    std::size_t left() const { return b_.size() - pos_; }
    bool Skip(std::size_t n) {
        if (!ok_ || n > left()) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }
    std::uint8_t U8() { return Take(1) ? b_[pos_ - 1] : 0; }
    std::uint16_t U16() { return Take(2) ? Get16(&b_[pos_ - 2]) : 0; }
    std::uint32_t U32() { return Take(4) ? Get32(&b_[pos_ - 4]) : 0; }
    std::uint64_t U64() { return Take(8) ? Get64(&b_[pos_ - 8]) : 0; }

  private:
    bool Take(std::size_t n) { return Skip(n); }
    std::span<const std::uint8_t> b_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

bool ValidSchema(const std::vector<FieldDef>& fields) {
    if (fields.empty() || fields.size() > kMaxFields) {
        return false;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        if (f.kind != FieldKind::Text && f.kind != FieldKind::Number) {
            return false;
        }
        if (f.name.empty() || f.name.size() > kMaxFieldNameSize ||
            f.name.find('\0') != std::string::npos) {
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (fields[j].name == f.name) {
                return false;
            }
        }
    }
    return true;
}

std::size_t MinRecordSize(const std::vector<FieldDef>& fields) {
    std::size_t n = kRecordFixedSize;
    for (const FieldDef& f : fields) {
        n += f.kind == FieldKind::Text ? kTextPrefixSize : kNumberSize;
    }
    return n;
}

}  // namespace

HeaderBytes EncodeHeader(const Header& h) {
    HeaderBytes b{};
    std::memcpy(b.data(), kMagic, sizeof kMagic);
    Put16(&b[8], kFormatVersion);
    b[10] = static_cast<std::uint8_t>(h.protection);
    b[11] = h.protection == Protection::Password ? kKdfPbkdf2Sha256 : kKdfNone;
    Put32(&b[12], static_cast<std::uint32_t>(kHeaderSize));
    Put32(&b[16], h.iterations);
    std::memcpy(&b[20], h.salt.data(), kSaltSize);
    std::memcpy(&b[36], h.nonce.data(), h.nonce.size());
    Put64(&b[48], h.change_counter);
    Put64(&b[56], h.body_size);
    return b;
}

std::optional<Header> ParseHeader(std::span<const std::uint8_t> b) {
    if (b.size() < kHeaderSize || std::memcmp(b.data(), kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    if (Get16(&b[8]) != kFormatVersion || Get32(&b[12]) != kHeaderSize) {
        return std::nullopt;
    }
    Header h;
    if (b[10] == static_cast<std::uint8_t>(Protection::None)) {
        h.protection = Protection::None;
        if (b[11] != kKdfNone || Get32(&b[16]) != 0) {
            return std::nullopt;
        }
    } else if (b[10] == static_cast<std::uint8_t>(Protection::Password)) {
        h.protection = Protection::Password;
        h.iterations = Get32(&b[16]);
        if (b[11] != kKdfPbkdf2Sha256 || h.iterations < 1 || h.iterations > kMaxKdfIterations) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    std::memcpy(h.salt.data(), &b[20], kSaltSize);
    std::memcpy(h.nonce.data(), &b[36], h.nonce.size());
    h.change_counter = Get64(&b[48]);
    h.body_size = Get64(&b[56]);
    if (h.body_size > kMaxBodySize) {
        return std::nullopt;
    }
    return h;
}

std::vector<FieldDef> AccountFields() {
    return {{"网址", FieldKind::Text},
            {"帐号", FieldKind::Text},
            {"密码", FieldKind::Text},
            {"备注", FieldKind::Text}};
}

std::optional<Table> Table::Create(std::vector<FieldDef> fields) {
    if (!ValidSchema(fields)) {
        return std::nullopt;
    }
    Table t;
    std::size_t size = 4;
    for (const FieldDef& f : fields) {
        size += 3 + f.name.size();
    }
    t.counts_offset_ = size;
    t.body_.assign(size + 12, 0);
    std::uint8_t* p = t.body_.data();
    Put32(p, static_cast<std::uint32_t>(fields.size()));
    p += 4;
    for (const FieldDef& f : fields) {
        *p++ = static_cast<std::uint8_t>(f.kind);
        Put16(p, static_cast<std::uint16_t>(f.name.size()));
        p += 2;
        std::memcpy(p, f.name.data(), f.name.size());
        p += f.name.size();
    }
    t.min_record_size_ = MinRecordSize(fields);
    t.fields_ = std::move(fields);
    t.WriteCounts();
    return t;
}

std::optional<Table> Table::Parse(SecureBytes body) {
    if (body.size() > kMaxBodySize) {
        return std::nullopt;
    }
    Table t;
    Reader r(body);
    const std::uint32_t field_count = r.U32();
    if (!r.ok() || field_count < 1 || field_count > kMaxFields) {
        return std::nullopt;
    }
    t.fields_.reserve(field_count);
    for (std::uint32_t i = 0; i < field_count; ++i) {
        FieldDef f;
        const std::uint8_t kind = r.U8();
        const std::uint16_t name_size = r.U16();
        const std::size_t name_at = r.pos();
        if (!r.Skip(name_size)) {
            return std::nullopt;
        }
        f.kind = static_cast<FieldKind>(kind);
        f.name.assign(reinterpret_cast<const char*>(body.data() + name_at), name_size);
        t.fields_.push_back(std::move(f));
    }
    if (!ValidSchema(t.fields_)) {
        return std::nullopt;
    }
    t.counts_offset_ = r.pos();
    t.next_id_ = r.U64();
    const std::uint32_t count = r.U32();
    t.min_record_size_ = MinRecordSize(t.fields_);
    if (!r.ok() || t.next_id_ < 1 || count > r.left() / t.min_record_size_) {
        return std::nullopt;
    }
    t.records_.reserve(count);
    t.values_.reserve(static_cast<std::size_t>(count) * field_count);
    std::uint64_t previous_id = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t offset = r.pos();
        const std::uint64_t id = r.U64();
        const std::uint8_t flags = r.U8();
        if (!r.ok() || id <= previous_id || id >= t.next_id_ || (flags & ~kDeletedFlag) != 0) {
            return std::nullopt;
        }
        previous_id = id;
        t.records_.push_back({id, static_cast<std::uint32_t>(offset)});
        for (const FieldDef& f : t.fields_) {
            t.values_.push_back(static_cast<std::uint32_t>(r.pos()));
            if (f.kind == FieldKind::Text) {
                const std::uint32_t size = r.U32();
                r.Skip(size);
            } else {
                r.Skip(kNumberSize);
            }
        }
        if (!r.ok()) {
            return std::nullopt;
        }
    }
    if (r.left() != 0) {
        return std::nullopt;
    }
    t.body_ = std::move(body);
    return t;
}

int Table::FieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool Table::Deleted(std::size_t i) const {
    return (body_[records_[i].offset + 8] & kDeletedFlag) != 0;
}

std::string_view Table::TextAt(std::size_t i, std::size_t field) const {
    if (fields_[field].kind != FieldKind::Text) {
        return {};
    }
    const std::uint8_t* p = body_.data() + values_[i * fields_.size() + field];
    return {reinterpret_cast<const char*>(p + kTextPrefixSize), Get32(p)};
}

double Table::NumberAt(std::size_t i, std::size_t field) const {
    if (fields_[field].kind != FieldKind::Number) {
        return 0;
    }
    return std::bit_cast<double>(Get64(body_.data() + values_[i * fields_.size() + field]));
}

std::optional<std::size_t> Table::Find(std::uint64_t id) const {
    auto it = std::lower_bound(records_.begin(), records_.end(), id,
                               [](const Record& r, std::uint64_t v) { return r.id < v; });
    if (it == records_.end() || it->id != id) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - records_.begin());
}

bool Table::AnyDeleted() const {
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (Deleted(i)) {
            return true;
        }
    }
    return false;
}

bool Table::Append(std::span<const FieldValue> values) {
    std::uint64_t needed = kRecordFixedSize;
    for (std::size_t k = 0; k < fields_.size(); ++k) {
        if (fields_[k].kind == FieldKind::Text) {
            needed += kTextPrefixSize + (k < values.size() ? values[k].text.size() : 0);
        } else {
            needed += kNumberSize;
        }
    }
    if (needed > kMaxBodySize - body_.size() || next_id_ == UINT64_MAX) {
        return false;
    }
    const Mark mark = Save();
    try {
        const std::size_t offset = body_.size();
        body_.resize(offset + needed);
        records_.push_back({next_id_, static_cast<std::uint32_t>(offset)});
        std::uint8_t* p = body_.data() + offset;
        Put64(p, next_id_);
        p[8] = 0;
        p += kRecordFixedSize;
        for (std::size_t k = 0; k < fields_.size(); ++k) {
            values_.push_back(static_cast<std::uint32_t>(p - body_.data()));
            if (fields_[k].kind == FieldKind::Text) {
                const std::string_view v = k < values.size() ? values[k].text.view() : "";
                Put32(p, static_cast<std::uint32_t>(v.size()));
                if (!v.empty()) {
                    std::memcpy(p + kTextPrefixSize, v.data(), v.size());
                }
                p += kTextPrefixSize + v.size();
            } else {
                const double d = k < values.size() ? values[k].number : 0.0;
                Put64(p, std::bit_cast<std::uint64_t>(d));
                p += kNumberSize;
            }
        }
    } catch (const std::bad_alloc&) {
        Rollback(mark);
        return false;
    }
    ++next_id_;
    WriteCounts();
    return true;
}

void Table::SetDeleted(std::size_t i, bool deleted) {
    std::uint8_t& flags = body_[records_[i].offset + 8];
    flags = deleted ? (flags | kDeletedFlag) : (flags & ~kDeletedFlag);
}

Table Table::WithoutDeleted() const {
    Table t;
    t.fields_ = fields_;
    t.counts_offset_ = counts_offset_;
    t.next_id_ = next_id_;
    t.min_record_size_ = min_record_size_;
    const std::size_t nf = fields_.size();
    const std::size_t prefix = counts_offset_ + 12;
    auto end_of = [&](std::size_t i) {
        return i + 1 < records_.size() ? records_[i + 1].offset : body_.size();
    };
    std::size_t keep = prefix, kept = 0;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (!Deleted(i)) {
            keep += end_of(i) - records_[i].offset;
            ++kept;
        }
    }
    // Sized once and filled with memcpy: the wiping allocator's element-wise construction would
    // make an insert copy byte by byte.
    t.body_.resize(keep);
    std::memcpy(t.body_.data(), body_.data(), prefix);
    std::size_t at = prefix;
    t.records_.reserve(kept);
    t.values_.reserve(kept * nf);
    // Records that stay are copied in runs: one copy for every stretch between marked ones.
    std::size_t i = 0;
    while (i < records_.size()) {
        if (Deleted(i)) {
            ++i;
            continue;
        }
        const std::size_t first = i;
        while (i < records_.size() && !Deleted(i)) {
            ++i;
        }
        const std::size_t begin = records_[first].offset;
        const std::size_t end = end_of(i - 1);
        std::memcpy(t.body_.data() + at, body_.data() + begin, end - begin);
        for (std::size_t r = first; r < i; ++r) {
            t.records_.push_back(
                {records_[r].id, static_cast<std::uint32_t>(records_[r].offset - begin + at)});
            for (std::size_t k = 0; k < nf; ++k) {
                t.values_.push_back(static_cast<std::uint32_t>(values_[r * nf + k] - begin + at));
            }
        }
        at += end - begin;
    }
    t.WriteCounts();
    return t;
}

void Table::Rollback(const Mark& m) {
    body_.resize(m.body_size);
    records_.resize(m.records);
    values_.resize(m.records * fields_.size());
    next_id_ = m.next_id;
    WriteCounts();
}

void Table::WriteCounts() {
    Put64(body_.data() + counts_offset_, next_id_);
    Put32(body_.data() + counts_offset_ + 8, static_cast<std::uint32_t>(records_.size()));
}

bool DeriveKey(std::string_view password, std::span<const std::uint8_t, kSaltSize> salt,
               std::uint32_t iterations, Key& out) {
    g_derivations.fetch_add(1, std::memory_order_relaxed);
    if (iterations < 1 || iterations > kMaxKdfIterations) {
        return false;
    }
    return crypto::Pbkdf2Sha256(password, salt, iterations, out.bytes);
}

std::uint64_t KeyDerivationCount() noexcept {
    return g_derivations.load(std::memory_order_relaxed);
}

std::uint64_t FileDecodeCount() noexcept {
    return g_decodes.load(std::memory_order_relaxed);
}

bool EncodeFileInto(const Table& table, Header h, const Key* key, std::vector<std::uint8_t>& out) {
    const std::span<const std::uint8_t> body = table.Body();
    const bool sealed = h.protection == Protection::Password;
    if (sealed && key == nullptr) {
        out.clear();
        return false;
    }
    if (!sealed) {
        h.iterations = 0;
        h.salt = {};
    }
    h.body_size = body.size();
    if (!crypto::RandomBytes(h.nonce)) {
        out.clear();
        return false;
    }
    const HeaderBytes header = EncodeHeader(h);
    try {
        out.resize(h.FileSize());
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    std::memcpy(out.data(), header.data(), kHeaderSize);
    const std::span<std::uint8_t> out_body(out.data() + kHeaderSize, body.size());
    bool ok = false;
    if (sealed) {
        const std::span<std::uint8_t, kTagTrailerSize> tag(out.data() + kHeaderSize + body.size(),
                                                           kTagTrailerSize);
        ok = crypto::AesGcmSeal(key->bytes, h.nonce, header, body, out_body, tag);
    } else {
        if (!body.empty()) {
            std::memcpy(out_body.data(), body.data(), body.size());
        }
        const std::span<std::uint8_t, kShaTrailerSize> sum(out.data() + kHeaderSize + body.size(),
                                                           kShaTrailerSize);
        ok = crypto::Sha256(std::span(out.data(), kHeaderSize + body.size()), sum);
    }
    if (!ok) {
        out.clear();
    }
    return ok;
}

std::optional<std::vector<std::uint8_t>> EncodeFile(const Table& table, Header h, const Key* key) {
    std::vector<std::uint8_t> out;
    if (!EncodeFileInto(table, h, key, out)) {
        return std::nullopt;
    }
    return out;
}

std::optional<Table> DecodeFile(std::span<const std::uint8_t> file, const Header& h,
                                const Key* key) {
    g_decodes.fetch_add(1, std::memory_order_relaxed);
    if (file.size() != h.FileSize()) {
        return std::nullopt;
    }
    const std::size_t n = static_cast<std::size_t>(h.body_size);
    const std::span<const std::uint8_t> header = file.first(kHeaderSize);
    const std::span<const std::uint8_t> stored = file.subspan(kHeaderSize, n);
    SecureBytes body;
    try {
        body.resize(n);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    if (h.protection == Protection::Password) {
        if (key == nullptr) {
            return std::nullopt;
        }
        const std::span<const std::uint8_t, kTagTrailerSize> tag(file.data() + kHeaderSize + n,
                                                                 kTagTrailerSize);
        if (!crypto::AesGcmOpen(key->bytes, h.nonce, header, stored, tag, body)) {
            return std::nullopt;
        }
    } else {
        std::array<std::uint8_t, kShaTrailerSize> sum{};
        if (!crypto::Sha256(file.first(kHeaderSize + n), sum) ||
            std::memcmp(sum.data(), file.data() + kHeaderSize + n, kShaTrailerSize) != 0) {
            return std::nullopt;
        }
        if (n != 0) {
            std::memcpy(body.data(), stored.data(), n);
        }
    }
    return Table::Parse(std::move(body));
}

std::optional<std::vector<std::uint8_t>> NewDatabaseImage(std::vector<FieldDef> fields) {
    std::optional<Table> t = Table::Create(std::move(fields));
    if (!t) {
        return std::nullopt;
    }
    return EncodeFile(*t, Header{}, nullptr);
}

}  // namespace ob::db
