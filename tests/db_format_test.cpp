// The database file format: header bounds, the table over the clear body, sealing and checking.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "store/db_format.h"

namespace ob::db {
namespace {

std::vector<FieldDef> MixedFields() {
    return {{"网址", FieldKind::Text}, {"次数", FieldKind::Number}, {"备注", FieldKind::Text}};
}

Table MakeTable(std::vector<FieldDef> fields, int records) {
    std::optional<Table> t = Table::Create(std::move(fields));
    EXPECT_TRUE(t.has_value());
    for (int i = 0; i < records; ++i) {
        std::vector<FieldValue> v;
        for (const FieldDef& f : t->fields()) {
            v.push_back(f.kind == FieldKind::Text ? FieldValue::OfText(f.name + std::to_string(i))
                                                  : FieldValue::OfNumber(i + 0.5));
        }
        EXPECT_TRUE(t->Append(v));
    }
    return std::move(*t);
}

Key TestKey(std::uint8_t fill) {
    Key k;
    k.bytes.fill(fill);
    return k;
}

Header ProtectedHeader() {
    Header h;
    h.protection = Protection::Password;
    h.iterations = 1000;
    h.salt.fill(7);
    h.change_counter = 41;
    return h;
}

TEST(DbHeader, RoundTripsAndRejectsOutOfBoundFields) {
    Header h = ProtectedHeader();
    h.body_size = 123;
    h.nonce.fill(9);
    const HeaderBytes b = EncodeHeader(h);
    std::optional<Header> back = ParseHeader(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->protection, Protection::Password);
    EXPECT_EQ(back->iterations, 1000u);
    EXPECT_EQ(back->salt, h.salt);
    EXPECT_EQ(back->nonce, h.nonce);
    EXPECT_EQ(back->change_counter, 41u);
    EXPECT_EQ(back->body_size, 123u);
    EXPECT_EQ(back->FileSize(), kHeaderSize + 123 + kTagTrailerSize);

    auto put32 = [](HeaderBytes& x, std::size_t at, std::uint32_t v) {
        std::memcpy(&x[at], &v, 4);  // the build hosts are little-endian
    };
    const std::vector<std::pair<const char*, std::function<void(HeaderBytes&)>>> bad = {
        {"magic", [](HeaderBytes& x) { x[0] ^= 1; }},
        {"version", [](HeaderBytes& x) { x[8] = 2; }},
        {"protection kind", [](HeaderBytes& x) { x[10] = 2; }},
        {"key derivation", [](HeaderBytes& x) { x[11] = 0; }},
        {"header size", [&](HeaderBytes& x) { put32(x, 12, 65); }},
        {"zero iterations", [&](HeaderBytes& x) { put32(x, 16, 0); }},
        {"too many iterations", [&](HeaderBytes& x) { put32(x, 16, kMaxKdfIterations + 1); }},
        {"huge body",
         [](HeaderBytes& x) {
             const std::uint64_t v = kMaxBodySize + 1;
             std::memcpy(&x[56], &v, 8);
         }},
    };
    for (const auto& [what, change] : bad) {
        HeaderBytes x = b;
        change(x);
        EXPECT_FALSE(ParseHeader(x)) << what;
    }
    EXPECT_FALSE(ParseHeader(std::span(b).first(kHeaderSize - 1)));

    Header plain;
    const HeaderBytes p = EncodeHeader(plain);
    ASSERT_TRUE(ParseHeader(p));
    HeaderBytes q = p;
    put32(q, 16, 5);  // an unprotected file has no iteration count
    EXPECT_FALSE(ParseHeader(q));
}

TEST(DbTable, SchemaChecks) {
    EXPECT_TRUE(Table::Create(AccountFields()));
    EXPECT_FALSE(Table::Create({}));
    EXPECT_FALSE(Table::Create({{"", FieldKind::Text}}));
    EXPECT_FALSE(Table::Create({{"a", FieldKind::Text}, {"a", FieldKind::Number}}));
    EXPECT_FALSE(Table::Create({{std::string("a\0b", 3), FieldKind::Text}}));
    EXPECT_FALSE(Table::Create({{std::string(256, 'x'), FieldKind::Text}}));
    EXPECT_FALSE(Table::Create({{"a", static_cast<FieldKind>(3)}}));
    EXPECT_TRUE(Table::Create(std::vector<FieldDef>(1, {std::string(255, 'x'), FieldKind::Text})));
    std::vector<FieldDef> many;
    for (int i = 0; i < 256; ++i) {
        many.push_back({std::to_string(i) + "f", FieldKind::Text});
    }
    EXPECT_FALSE(Table::Create(many));
    many.pop_back();
    EXPECT_TRUE(Table::Create(many));
}

TEST(DbTable, AppendsMarksPurgesAndSurvivesReparse) {
    Table t = MakeTable(MixedFields(), 5);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t.FieldIndex("次数"), 1);
    EXPECT_EQ(t.FieldIndex("nothing"), -1);
    EXPECT_EQ(t.TextAt(3, 0), "网址3");
    EXPECT_EQ(t.NumberAt(3, 1), 3.5);
    EXPECT_EQ(t.TextAt(4, 2), "备注4");

    // Missing values are empty; extra ones are ignored.
    const FieldValue one[] = {FieldValue::OfText("only")};
    ASSERT_TRUE(t.Append(one));
    EXPECT_EQ(t.TextAt(5, 0), "only");
    EXPECT_EQ(t.NumberAt(5, 1), 0.0);
    EXPECT_EQ(t.TextAt(5, 2), "");

    const Table::Mark m = t.Save();
    const FieldValue four[] = {FieldValue::OfText("x"), FieldValue::OfNumber(1),
                               FieldValue::OfText("y"), FieldValue::OfText("ignored")};
    ASSERT_TRUE(t.Append(four));
    EXPECT_EQ(t.size(), 7u);
    t.Rollback(m);
    EXPECT_EQ(t.size(), 6u);
    EXPECT_EQ(t.NextId(), 7u);

    t.SetDeleted(1, true);
    t.SetDeleted(3, true);
    EXPECT_TRUE(t.AnyDeleted());
    Table p = t.WithoutDeleted();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_FALSE(p.AnyDeleted());
    const std::uint64_t ids[] = {1, 3, 5, 6};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p.Id(i), ids[i]);
        EXPECT_EQ(p.Find(ids[i]), i);
    }
    EXPECT_FALSE(p.Find(2));
    EXPECT_EQ(p.TextAt(2, 0), "网址4");
    EXPECT_EQ(p.NumberAt(2, 1), 4.5);

    // The body is the stored form: parsing it again gives the same table, marks included.
    for (const Table* x : {&t, &p}) {
        std::optional<Table> r = Table::Parse(SecureBytes(x->Body().begin(), x->Body().end()));
        ASSERT_TRUE(r);
        ASSERT_EQ(r->size(), x->size());
        EXPECT_EQ(r->NextId(), x->NextId());
        for (std::size_t i = 0; i < x->size(); ++i) {
            EXPECT_EQ(r->Id(i), x->Id(i));
            EXPECT_EQ(r->Deleted(i), x->Deleted(i));
            EXPECT_EQ(r->TextAt(i, 2), x->TextAt(i, 2));
            EXPECT_EQ(r->NumberAt(i, 1), x->NumberAt(i, 1));
        }
    }
    // Ids are never reused, also after a purge of the last record.
    p.SetDeleted(3, true);
    Table q = p.WithoutDeleted();
    ASSERT_TRUE(q.Append(one));
    EXPECT_EQ(q.Id(q.size() - 1), 7u);
}

// A body built by hand, so that every length and count can be crafted.
struct BodyBuilder {
    SecureBytes b;
    BodyBuilder& U8(std::uint8_t v) {
        b.push_back(v);
        return *this;
    }
    BodyBuilder& U16(std::uint16_t v) { return Raw(&v, 2); }
    BodyBuilder& U32(std::uint32_t v) { return Raw(&v, 4); }
    BodyBuilder& U64(std::uint64_t v) { return Raw(&v, 8); }
    BodyBuilder& Str(std::string_view s) { return Raw(s.data(), s.size()); }
    BodyBuilder& Raw(const void* p, std::size_t n) {
        const auto* c = static_cast<const std::uint8_t*>(p);
        b.insert(b.end(), c, c + n);
        return *this;
    }
    // One text field "a"; then next id and count.
    static BodyBuilder OneField(std::uint64_t next_id, std::uint32_t count) {
        BodyBuilder x;
        x.U32(1).U8(1).U16(1).Str("a").U64(next_id).U32(count);
        return x;
    }
};

TEST(DbTable, ParseRejectsCraftedBodies) {
    EXPECT_TRUE(Table::Parse(
        BodyBuilder::OneField(3, 2).U64(1).U8(0).U32(2).Str("hi").U64(2).U8(1).U32(0).b));
    const std::vector<std::pair<const char*, SecureBytes>> bad = {
        {"empty", {}},
        {"no fields", BodyBuilder().U32(0).U64(1).U32(0).b},
        {"256 fields", BodyBuilder().U32(256).b},
        {"name past the end", BodyBuilder().U32(1).U8(1).U16(60000).Str("a").b},
        {"unknown kind", BodyBuilder().U32(1).U8(9).U16(1).Str("a").U64(1).U32(0).b},
        {"next id 0", BodyBuilder::OneField(0, 0).b},
        {"count beyond the bytes", BodyBuilder::OneField(9, 0xFFFFFFFF).U64(1).U8(0).U32(0).b},
        {"text past the end", BodyBuilder::OneField(9, 1).U64(1).U8(0).U32(0xFFFFFFF0).Str("x").b},
        {"id 0", BodyBuilder::OneField(9, 1).U64(0).U8(0).U32(0).b},
        {"id not below next id", BodyBuilder::OneField(2, 1).U64(2).U8(0).U32(0).b},
        {"ids not growing", BodyBuilder::OneField(9, 2).U64(4).U8(0).U32(0).U64(4).U8(0).U32(0).b},
        {"unknown flag", BodyBuilder::OneField(9, 1).U64(1).U8(2).U32(0).b},
        {"trailing byte", BodyBuilder::OneField(9, 1).U64(1).U8(0).U32(0).U8(0).b},
        {"record cut", BodyBuilder::OneField(9, 1).U64(1).U8(0).U16(0).b},
    };
    for (const auto& [what, body] : bad) {
        EXPECT_FALSE(Table::Parse(body)) << what;
    }
}

TEST(DbFile, SealedFileRoundTripsAndHidesEveryValue) {
    Table t = MakeTable(AccountFields(), 3);
    const Key key = TestKey(0x42);
    std::optional<std::vector<std::uint8_t>> f1 = EncodeFile(t, ProtectedHeader(), &key);
    std::optional<std::vector<std::uint8_t>> f2 = EncodeFile(t, ProtectedHeader(), &key);
    ASSERT_TRUE(f1 && f2);
    std::optional<Header> h = ParseHeader(*f1);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->change_counter, 41u);
    EXPECT_EQ(f1->size(), h->FileSize());
    // A fresh nonce at every write.
    EXPECT_NE(ParseHeader(*f2)->nonce, h->nonce);
    EXPECT_NE(*f1, *f2);
    // Neither field names nor values appear in the file.
    const std::string file(f1->begin(), f1->end());
    for (const char* s : {"网址", "密码", "帐号1", "备注2"}) {
        EXPECT_EQ(file.find(s), std::string::npos) << s;
    }
    std::optional<Table> back = DecodeFile(*f1, *h, &key);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 3u);
    EXPECT_EQ(back->TextAt(2, 3), "备注2");
    const Key wrong = TestKey(0x43);
    EXPECT_FALSE(DecodeFile(*f1, *h, &wrong));
    EXPECT_FALSE(DecodeFile(*f1, *h, nullptr));
}

// Every cut and every changed byte of a small file of either kind is detected.
TEST(DbFile, EveryTruncationAndByteChangeIsDetected) {
    const Key key = TestKey(0x11);
    for (const bool sealed : {true, false}) {
        Table t = MakeTable(AccountFields(), 2);
        t.SetDeleted(0, true);
        const std::vector<std::uint8_t> file =
            *EncodeFile(t, sealed ? ProtectedHeader() : Header{}, sealed ? &key : nullptr);
        const Key* k = sealed ? &key : nullptr;
        const Header good = *ParseHeader(file);
        ASSERT_TRUE(DecodeFile(file, good, k));
        auto opens = [&](const std::vector<std::uint8_t>& f) {
            std::optional<Header> h = ParseHeader(f);
            return h && DecodeFile(f, *h, k).has_value();
        };
        for (std::size_t n = 0; n < file.size(); ++n) {
            EXPECT_FALSE(opens(std::vector(file.begin(), file.begin() + n))) << sealed << " " << n;
        }
        std::vector<std::uint8_t> longer = file;
        longer.push_back(0);
        EXPECT_FALSE(opens(longer));
        for (std::size_t i = 0; i < file.size(); ++i) {
            for (const std::uint8_t flip : {0x01, 0x80, 0xFF}) {
                std::vector<std::uint8_t> f = file;
                f[i] ^= flip;
                EXPECT_FALSE(opens(f)) << sealed << " byte " << i << " ^ " << int(flip);
            }
        }
    }
}

TEST(DbFile, NewDatabaseImageIsAnEmptyUnprotectedTable) {
    std::optional<std::vector<std::uint8_t>> img = NewDatabaseImage(AccountFields());
    ASSERT_TRUE(img);
    std::optional<Header> h = ParseHeader(*img);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->protection, Protection::None);
    std::optional<Table> t = DecodeFile(*img, *h, nullptr);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->size(), 0u);
    ASSERT_EQ(t->fields().size(), 4u);
    EXPECT_EQ(t->fields()[1].name, "帐号");
    EXPECT_FALSE(NewDatabaseImage({}));
}

TEST(DbKdf, DerivationDependsOnEveryByteAndIsBounded) {
    std::array<std::uint8_t, kSaltSize> salt{};
    std::memcpy(salt.data(), "saltsaltsaltsalt", kSaltSize);
    Key a, b;
    const std::uint64_t before = KeyDerivationCount();
    ASSERT_TRUE(DeriveKey("password", salt, 2, a));
    ASSERT_TRUE(DeriveKey("password", salt, 2, b));
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(KeyDerivationCount(), before + 2);
    ASSERT_TRUE(DeriveKey("Password", salt, 2, b));
    EXPECT_NE(a.bytes, b.bytes);
    EXPECT_FALSE(DeriveKey("password", salt, 0, b));
    EXPECT_FALSE(DeriveKey("password", salt, kMaxKdfIterations + 1, b));
}

}  // namespace
}  // namespace ob::db
