#include "util/json.h"

#include <gtest/gtest.h>

using namespace rh;

// Readable failure output.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace rh {
void PrintTo(const JsonValue& v, std::ostream* os)
{
    *os << JsonToString(v).toStdString() << " (kind " << int(v.kind()) << ")";
}
} // namespace rh

namespace {

QString S(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

JsonMap mapOf(std::initializer_list<std::pair<const char*, JsonValue>> members)
{
    JsonMap m;
    for (const auto& [k, v] : members)
        m.add(S(k), v);
    return m;
}

} // namespace

TEST(JsonRead, BlanksAndCommentsBeforeAndInsideValues)
{
    const JsonValue expected = mapOf({{"a", 1}, {"b", S("x")}});
    for (const char* text : {
             "/* header */{\"a\":1,\"b\":\"x\"}",
             "// header\r\n{\"a\":1,\"b\":\"x\"}",
             "// header\n  {\"a\" : 1 , \"b\" : \"x\" }",
             "(({\"a\":(1),\"b\":(\"x\")}))",
             "\t/{\"a\":1,/*note*/\"b\":\"x\"}",
             "{\"a\":1,\r\n// the next one\r\n\"b\":\"x\"}",
         }) {
        EXPECT_EQ(JsonParse(S(text)), expected) << text;
        EXPECT_EQ(ParseErrors(), QString()) << text;
    }
}

TEST(JsonRead, LenientQuotingOfStringsAndNames)
{
    const JsonValue expected = mapOf({{"host", S("10.0.0.5")}});
    for (const char* text : {"{'host':'10.0.0.5'}", "{host:\"10.0.0.5\"}", "{ host : '10.0.0.5' }",
                             "{\"ho st\":\"10.0.0.5\"}", "{\"ho\tst\"\r\n:'10.0.0.5'}"}) {
        EXPECT_EQ(JsonParse(S(text)), expected) << text;
        EXPECT_EQ(ParseErrors(), QString()) << text;
    }
    // In strings the other quote is an ordinary character; in names ":" inside
    // quotes belongs to the name.
    const JsonValue v = JsonParse(S("{\"a\":'say \"hi\"', 'a:b':1}"));
    EXPECT_EQ(v["a"].toText(), S("say \"hi\""));
    EXPECT_EQ(v["a:b"].toNumber(), JsonDecimal(1));
    EXPECT_EQ(ParseErrors(), QString());
    // Escapes are not decoded in names.
    EXPECT_EQ(JsonParse(S("{\"a\\tb\":1}")).toMap().keys(), QStringList{S("a\\tb")});
}

TEST(JsonRead, FirstDuplicateWinsAndEndsTheObject)
{
    const JsonValue v = JsonParse(S("{\"a\":1,\"b\":2,\"a\":3,\"c\":4}"));
    EXPECT_EQ(v, JsonValue(mapOf({{"a", 1}, {"b", 2}})));
    EXPECT_EQ(ParseErrors(),
              S("This key is already associated with an element of this collection: a\r\n"));
}

TEST(JsonRead, StringEscapes)
{
    const JsonValue v = JsonParse(
        S(R"(["caf\u00e9", "\"\\\/\'\b\f\n\r\t", "\q\z", "\ud83d\ude00", "\u12", "\uZZZZ", 'it\'s'])"));
    ASSERT_EQ(v.toList().count(), 7);
    EXPECT_EQ(v.item(1).toText(), S("café"));
    EXPECT_EQ(v.item(1).toText().size(), 4);
    EXPECT_EQ(v.item(2).toText(), S("\"\\/'\b\f\n\r\t"));
    EXPECT_EQ(v.item(3).toText(), S("qz")) << "an unknown escape drops the backslash";
    EXPECT_EQ(v.item(4).toText(), S("😀")) << "escaped UTF-16 code units pair up";
    // "\u" without four hex digits is an unknown escape and eats nothing,
    // least of all the closing quote.
    EXPECT_EQ(v.item(5).toText(), S("u12"));
    EXPECT_EQ(v.item(6).toText(), S("uZZZZ"));
    EXPECT_EQ(v.item(7).toText(), S("it's"));
    EXPECT_EQ(ParseErrors(), QString());
}

TEST(JsonRead, UnterminatedStringKeepsWhatWasRead)
{
    const JsonValue v = JsonParse(S("[\"abc\\n"));
    EXPECT_EQ(v.item(1).toText(), S("abc\n"));
    EXPECT_EQ(ParseErrors(), S("Missing ']': [\"abc\\n\r\n"));
}

TEST(JsonRead, TopLevelMustBeObjectOrArray)
{
    for (const char* text : {"", "   ", "42", "\"text\"", "true", "null", "/* only */", "}"}) {
        const JsonValue v = JsonParse(S(text));
        EXPECT_TRUE(v.isEmpty()) << text;
        EXPECT_EQ(ParseErrors(), S("Invalid JSON")) << text;
    }
    EXPECT_TRUE(JsonParse(S("[]")).isList());
    EXPECT_TRUE(JsonParse(S("{}")).isMap());
    EXPECT_EQ(ParseErrors(), QString()) << "a good parse clears the previous errors";
}

TEST(JsonRead, TextAfterTheTopLevelValueIsIgnored)
{
    QString errors = S("stale");
    const JsonValue v = JsonParse(S("{\"a\":[1,2]} trailing {garbage"), &errors);
    EXPECT_EQ(v["a"].toList().count(), 2);
    EXPECT_EQ(errors, QString());
}

TEST(JsonRead, ValueKinds)
{
    const JsonValue v = JsonParse(S(
        "{\"n\":null,\"t\":true,\"f\":false,\"i\":-12,\"d\":1.50,\"e\":2.5E+2,\"s\":\"\",\"l\":[],\"m\":{}}"));
    EXPECT_TRUE(v["n"].isNull());
    EXPECT_FALSE(v["n"].isEmpty());
    EXPECT_TRUE(v["missing"].isEmpty());
    EXPECT_FALSE(v["missing"].isNull());
    EXPECT_TRUE(v["t"].isTrue());
    EXPECT_TRUE(v["f"].isBool());
    EXPECT_FALSE(v["f"].isTrue());
    EXPECT_EQ(v["i"].toNumber().toLongLong(), -12);
    EXPECT_EQ(v["d"].toText(), S("1.5"));
    EXPECT_EQ(v["e"].toText(), S("250"));
    EXPECT_TRUE(v["s"].isText());
    EXPECT_TRUE(v["l"].isList());
    EXPECT_TRUE(v["m"].isMap());
    EXPECT_EQ(v.toMap().keys(), (QStringList{S("n"), S("t"), S("f"), S("i"), S("d"), S("e"),
                                             S("s"), S("l"), S("m")}));
    // Lists count from 1.
    const JsonValue l = JsonParse(S("[\"first\",\"second\"]"));
    EXPECT_EQ(l.item(1).toText(), S("first"));
    EXPECT_EQ(l.item(2).toText(), S("second"));
    EXPECT_TRUE(l.item(0).isEmpty());
    EXPECT_TRUE(l.item(3).isEmpty());
}

TEST(JsonRead, NumberRunningIntoTheEndIsNotTaken)
{
    const JsonValue v = JsonParse(S("{\"a\":12"));
    EXPECT_TRUE(v.toMap().contains(S("a")));
    EXPECT_TRUE(v["a"].isEmpty());
    EXPECT_EQ(ParseErrors(), S("Missing '}': {\"a\":12\r\n"));
}

TEST(JsonRead, ParseErrorsTexts)
{
    struct Case {
        const char* text;
        const char* errors;
    };
    const Case cases[] = {
        {"{\"server_list\":[1,2],\"a\":\"b\"",
         "Missing '}': _list\":[1,2],\"a\":\"b\"\r\n"},
        {"[\"one\",\"two\",\"three\"", "Missing ']': [\"one\",\"two\",\"three\"\r\n"},
        {"{\"a\":-}", "Type mismatch: a\r\n"},
        {"{\"a\":1e30}", "Overflow: a\r\n"},
        {"{\"a\":}", "Type mismatch: a\r\n"},
        {"[1,-,2,3,4,5,6,7,8,9,10,11]", "Type mismatch: ,2,3,4,5,6,7,8,9,10,\r\n"},
        {"[1,x]", "Type mismatch: x]\r\n"},
        {"[tru]", "Invalid Boolean at position 2 : tru]\r\n"},
        {"[tRUE]", "Invalid Boolean at position 2 : tRUE]\r\n"},
        {"[True]", "Type mismatch: True]\r\n"},
        {"[1, nul, 2]", "Invalid null value at position 5 : nul, 2]\r\n"},
        {"{\"a\" 1}", "Invalid Key at position 6 : a\r\n"},
        {"{'a'='b'}", "Invalid Key at position 5 : a\r\nType mismatch: a\r\n"},
        {"{\"a\":tru}", "Invalid Boolean at position 6 : tru}\r\nMissing '}': {\"a\":tru}\r\n"},
    };
    for (const Case& c : cases) {
        JsonParse(S(c.text));
        EXPECT_EQ(ParseErrors(), S(c.errors)) << c.text;
    }
}

TEST(JsonRead, FailuresReturnWhatWasRead)
{
    EXPECT_EQ(JsonParse(S("[1,-,2]")), JsonValue([] {
                  JsonList l;
                  l.append(1);
                  return l;
              }()));
    // A member name without ":" is still added, with the value read from there.
    EXPECT_EQ(JsonParse(S("{\"a\" 1}")), JsonValue(mapOf({{"a", 1}})));
    // A bad Boolean in a list is recorded once and ends the list instead of
    // being met again for ever.
    const JsonValue bad = JsonParse(S("[[tru],2]"));
    EXPECT_EQ(JsonToString(bad), S("[[false],false]"));
    EXPECT_EQ(ParseErrors(), S("Invalid Boolean at position 3 : tru],2]\r\n").repeated(2))
        << "the outer list meets the bad token once more and ends too";
}

TEST(JsonRead, PositionsCountUtf16Units)
{
    JsonParse(S("[\"😀가\", nul]"));
    EXPECT_EQ(ParseErrors(), S("Invalid null value at position 9 : nul]\r\n"));
}

TEST(JsonRead, DeepNestingEndsWithOneEntry)
{
    for (const QString& open : {S("["), S("{\"a\":")}) {
        const QString deep = open.repeated(100000);
        const JsonValue v = JsonParse(deep);
        EXPECT_TRUE(v.isList() || v.isMap());
        const QStringList lines = ParseErrors().split(S("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 1) << ParseErrors().left(300).toStdString();
        EXPECT_TRUE(lines[0].startsWith(S("Nesting deeper than 512 levels at position ")));
    }
    // Exactly at the limit everything is read.
    const QString ok = S("[").repeated(512) + S("7") + S("]").repeated(512);
    JsonValue v = JsonParse(ok);
    EXPECT_EQ(ParseErrors(), QString());
    for (int level = 1; level < 512; ++level)
        v = JsonValue(v.item(1));
    EXPECT_EQ(v.item(1).toText(), S("7"));
    JsonParse(S("[") + ok + S("]"));
    EXPECT_TRUE(ParseErrors().startsWith(S("Nesting deeper than 512 levels at position 513 : [7]]]")));
}

TEST(JsonRead, EveryCutOfADocumentReportsAFailure)
{
    const QString doc = S("// cache\r\n{\"success\":true,'data':{ver:7,\"servers\":[{\"name\":"
                          "\"사내메신저DB서버\",\"host\":\"10.0.0.5\"},{\"name\":\"x\\u0041\","
                          "\"host\":null,\"n\":-1.5e3}],/* c */\"f\":false}}");
    JsonParse(doc);
    ASSERT_EQ(ParseErrors(), QString());
    for (qsizetype cut = 0; cut < doc.size(); ++cut) {
        JsonParse(doc.left(cut));
        EXPECT_FALSE(ParseErrors().isEmpty()) << "cut at " << cut;
    }
}

TEST(JsonRead, HostileInputKeepsDiagnosticsBounded)
{
    // Thousands of bad tokens, each quoting "the rest of the text".
    QString text = S("{");
    for (int k = 0; k < 20000; ++k)
        text += QStringLiteral("\"k%1\":t,").arg(k);
    text += S("}");
    JsonParse(text);
    const QStringList lines = ParseErrors().split(S("\r\n"), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 101);
    EXPECT_EQ(lines.last(), S("(further errors not listed)"));
    EXPECT_LT(ParseErrors().size(), 101 * 260);
    EXPECT_EQ(lines.first(), S("Invalid Boolean at position 7 : ") + text.mid(6, 200));
}

TEST(JsonWrite, Shapes)
{
    EXPECT_EQ(JsonToString(JsonValue()), QString());
    EXPECT_EQ(JsonToString(JsonValue::null()), S("null"));
    EXPECT_EQ(JsonToString(true), S("true"));
    EXPECT_EQ(JsonToString(JsonMap()), S("{}"));
    EXPECT_EQ(JsonToString(JsonList()), S("[]"));
    EXPECT_EQ(JsonToString(JsonDecimal::fromText(u"-0.250")), S("-0.25"));
    JsonList l;
    l.append(1);
    l.append(JsonValue());
    l.append(JsonMap());
    EXPECT_EQ(JsonToString(mapOf({{"a", l}, {"b", false}})), S("{\"a\": [1,,{}],\"b\": false}"));
}

TEST(JsonWrite, TextEscaping)
{
    EXPECT_EQ(JsonToString(S("say \"hi\"")), S("\"say \\\"hi\\\"\""));
    EXPECT_EQ(JsonToString(S("line1\r\nline2\t")), S("\"line1\r\nline2\t\""));
    // Backslashes are doubled so the text reads back as it was written.
    EXPECT_EQ(JsonToString(S("C:\\new\\")), S("\"C:\\\\new\\\\\""));
    const JsonValue original = mapOf({{"path", S("C:\\new \"dir\"\\\r\n")}, {"k\\ey", S("v")}});
    EXPECT_EQ(JsonParse(JsonToString(original)), original);
}

TEST(JsonWrite, CompactReplyRoundTrip)
{
    const QString reply = S("{\"success\":true,\"data\":{\"ver\":7,\"servers\":[{\"name\":"
                            "\"사내메신저DB서버\",\"host\":\"10.0.0.5\"},{\"name\":\"자동업데이트_런처\","
                            "\"host\":\"web.example\",\"port\":8080.0,\"x\":null}]}}");
    const JsonValue v = JsonParse(reply);
    EXPECT_EQ(JsonToString(v["data"]),
              S("{\"ver\": 7,\"servers\": [{\"name\": \"사내메신저DB서버\",\"host\": \"10.0.0.5\"},"
                "{\"name\": \"자동업데이트_런처\",\"host\": \"web.example\",\"port\": 8080,\"x\": "
                "null}]}"));
    EXPECT_EQ(JsonParse(JsonToString(v)), v);
}

TEST(JsonValues, MapKeepsOrderAndFirstKey)
{
    JsonMap m;
    for (int k = 20; k > 0; --k)
        ASSERT_TRUE(m.add(QString::number(k), k));
    EXPECT_FALSE(m.add(S("7"), 700));
    EXPECT_EQ(m.value(S("7")).toNumber().toLongLong(), 7);
    m.set(S("7"), S("seven"));
    m.set(S("new"), JsonValue::null());
    EXPECT_EQ(m.size(), 21);
    EXPECT_EQ(m.keys().first(), S("20"));
    EXPECT_EQ(m.keys().at(13), S("7"));
    EXPECT_EQ(m.keys().last(), S("new"));
    EXPECT_EQ(m.value(S("7")).toText(), S("seven"));
    EXPECT_TRUE(m.value(S("21")).isEmpty());

    // Look-ups through values of the wrong kind are harmless.
    const JsonValue v = JsonParse(S("{\"data\":[1]}"));
    EXPECT_TRUE(v["data"]["servers"].item(1)["host"].isEmpty());
    EXPECT_EQ(v["data"]["servers"].toList().count(), 0);
}

TEST(JsonValues, Decimals)
{
    struct Case {
        const char16_t* text;
        const char* plain;
    };
    for (const Case& c : {Case{u"0", "0"}, {u"-0.0", "0"}, {u"+5", "5"}, {u"5.", "5"},
                          {u".5", "0.5"}, {u"-.5e1", "-5"}, {u"1e-3", "0.001"},
                          {u"000123.4500", "123.45"}, {u"1E28", "10000000000000000000000000000"},
                          {u"79228162514264337593543950335", "79228162514264337593543950335"},
                          {u"0.12345678901234567890123456785", "0.1234567890123456789012345678"},
                          {u"0.12345678901234567890123456795", "0.123456789012345678901234568"},
                          {u"1e-40", "0"}, {u"0e999999999999", "0"},
                          {u"7922816251426433759354395033.46", "7922816251426433759354395033.5"},
                          {u"7922816251426433759354395033.56", "7922816251426433759354395034"}}) {
        int error = -1;
        const JsonDecimal d = JsonDecimal::fromText(c.text, &error);
        EXPECT_EQ(error, 0) << QString::fromUtf16(c.text).toStdString();
        EXPECT_EQ(d.toString(), S(c.plain)) << QString::fromUtf16(c.text).toStdString();
    }
    for (const char16_t* bad : {u"", u"-", u"+", u".", u"e5", u"1e", u"1e+", u"1.2.3", u"--1",
                                u"1-2", u"1e5e5", u"1e5.5"}) {
        int error = 0;
        JsonDecimal::fromText(bad, &error);
        EXPECT_EQ(error, 13) << QString::fromUtf16(bad).toStdString();
    }
    for (const char16_t* big : {u"79228162514264337593543950336", u"1e29", u"-1e99999999999"}) {
        int error = 0;
        JsonDecimal::fromText(big, &error);
        EXPECT_EQ(error, 6) << QString::fromUtf16(big).toStdString();
    }
    bool ok = true;
    EXPECT_EQ(JsonDecimal::fromText(u"-9223372036854775808").toLongLong(&ok), INT64_MIN);
    EXPECT_TRUE(ok);
    JsonDecimal::fromText(u"9223372036854775808").toLongLong(&ok);
    EXPECT_FALSE(ok);
    JsonDecimal::fromText(u"1.5").toLongLong(&ok);
    EXPECT_FALSE(ok);
    EXPECT_DOUBLE_EQ(JsonDecimal::fromText(u"-2.5e-1").toDouble(), -0.25);
    EXPECT_EQ(JsonDecimal::fromText(u"1.0"), JsonDecimal(1));
}
