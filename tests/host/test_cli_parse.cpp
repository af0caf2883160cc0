// The pipeline language and the graph-file reader without running anything: quoting, names,
// references and branches; base64 and the refusal of damaged graph files.
#include <gtest/gtest.h>

#include "host/pipeline.h"
#include "platform/graph/graphfile.h"

namespace {

using cli::ParsePipeline;
using cli::Pipeline;

Pipeline Parse(const std::vector<std::string>& args) {
  Pipeline p;
  std::string error;
  EXPECT_TRUE(ParsePipeline(args, &p, &error)) << error;
  return p;
}

std::string ParseError(const std::vector<std::string>& args) {
  Pipeline p;
  std::string error;
  EXPECT_FALSE(ParsePipeline(args, &p, &error));
  return error;
}

TEST(PipelineParse, ElementsPropertiesAndQuoting) {
  // One argument or many give the same pipeline.
  for (const auto& args : {std::vector<std::string>{"A x=1 ! \"Ravik Plenor Video Mixer\" 'mode of operation'=\"a b\" ! C"},
                           std::vector<std::string>{"A", "x=1", "!", "Ravik Plenor Video Mixer", "\"mode of operation\"=a\\ b",
                                                    "!", "C"}}) {
    SCOPED_TRACE(args[0]);
    Pipeline p = Parse(args);
    ASSERT_EQ(p.elements.size(), 3u);
    EXPECT_EQ(p.elements[0].filter, "A");
    ASSERT_EQ(p.elements[0].params.size(), 1u);
    EXPECT_EQ(p.elements[0].params[0], (std::pair<std::string, std::string>{"x", "1"}));
    EXPECT_EQ(p.elements[1].filter, "Ravik Plenor Video Mixer");
    ASSERT_EQ(p.elements[1].params.size(), 1u);
    EXPECT_EQ(p.elements[1].params[0], (std::pair<std::string, std::string>{"mode of operation", "a b"}));
    ASSERT_EQ(p.links.size(), 2u);
    EXPECT_EQ(p.links[0].from, 0);
    EXPECT_EQ(p.links[0].to, 1);
    EXPECT_EQ(p.links[1].from, 1);
    EXPECT_EQ(p.links[1].to, 2);
  }
  // A value with blanks arrives from the shell as one argument.
  Pipeline p = Parse({"A", "location=/my clips/a b.yuv", "!", "B"});
  ASSERT_EQ(p.elements.size(), 2u);
  EXPECT_EQ(p.elements[0].params[0], (std::pair<std::string, std::string>{"location", "/my clips/a b.yuv"}));
  // '!' needs no blanks; a value keeps its '=' signs; a path is an element.
  p = Parse({"./build/X.so!B location=a=b.raw"});
  ASSERT_EQ(p.elements.size(), 2u);
  EXPECT_EQ(p.elements[0].filter, "./build/X.so");
  EXPECT_EQ(p.elements[1].params[0], (std::pair<std::string, std::string>{"location", "a=b.raw"}));
}

TEST(PipelineParse, NamedElementsAndReferences) {
  // Two inputs into mix, then mix continues in a third branch.
  Pipeline p = Parse({"S1 ! mix.  S2 ! mix.  M name=mix  mix. ! R"});
  ASSERT_EQ(p.elements.size(), 4u);
  EXPECT_EQ(p.elements[2].name, "mix");
  ASSERT_EQ(p.links.size(), 3u);
  EXPECT_EQ(p.links[0].from, 0);
  EXPECT_EQ(p.links[0].to, 2);
  EXPECT_EQ(p.links[1].from, 1);
  EXPECT_EQ(p.links[1].to, 2);
  EXPECT_EQ(p.links[2].from, 2);
  EXPECT_EQ(p.links[2].to, 3);
  // A quoted word ending in '.' is an element, not a reference.
  p = Parse({"\"Mr.\" ! B"});
  EXPECT_EQ(p.elements[0].filter, "Mr.");
}

TEST(PipelineParse, MistakesAreNamed) {
  EXPECT_NE(ParseError({"A !"}).find("ends with '!'"), std::string::npos);
  EXPECT_NE(ParseError({"! A"}).find("'!'"), std::string::npos);
  EXPECT_NE(ParseError({"A ! ! B"}).find("'!'"), std::string::npos);
  EXPECT_NE(ParseError({"A ! nobody."}).find("'nobody.'"), std::string::npos);
  EXPECT_NE(ParseError({"A name=x ! B name=x"}).find("two elements are named 'x'"), std::string::npos);
  EXPECT_NE(ParseError({"x=1 ! A"}).find("no element before it"), std::string::npos);
  EXPECT_NE(ParseError({"A \"unclosed ! B"}).find("unterminated quote"), std::string::npos);
  EXPECT_NE(ParseError({"A name=a ! a."}).find("linked to itself"), std::string::npos);
  EXPECT_NE(ParseError({""}).find("empty"), std::string::npos);
}

using plenor::graph::Base64Decode;
using plenor::graph::Base64Encode;

TEST(GraphFile, Base64RoundTripAndRefusals) {
  for (const std::string& bytes : {std::string(), std::string("\x01"), std::string("\x01\xFF"), std::string("\x00\x01\x02", 3),
                                   std::string(256, '\xA5')}) {
    std::string back;
    ASSERT_TRUE(Base64Decode(Base64Encode(bytes), &back));
    EXPECT_EQ(back, bytes);
  }
  EXPECT_EQ(Base64Encode(std::string("\x01\x00\x00\x00", 4)), std::string("AQAAAA=="));
  std::string out;
  for (const char* bad : {"A", "AQAAAA=", "AQ*AAA==", "=AAA", "AB==", "AQAAAA==AQAAAA==x"}) EXPECT_FALSE(Base64Decode(bad, &out)) << bad;
}

TEST(GraphFile, WrittenFilesReadBackAndDamageIsNamed) {
  plenor::graph::GraphFile g;
  plenor::graph::GraphFileFilter a, b;
  a.name = "src";
  a.clsid = GUID{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  a.fileRole = plenor::graph::GraphFileFilter::FileRole::Source;
  a.filePath = "/tmp/in put.yuv";
  a.parameters = {{"fps", "25"}, {"mode of operation", "a \"b\""}};
  b.name = "sink";
  b.clsid = GUID{0x87654321, 0x4321, 0x8765, {8, 7, 6, 5, 4, 3, 2, 1}};
  b.hasPersist = true;
  b.persist = std::string("\xFB\xFF\xFF\xFF", 4);
  g.filters = {a, b};
  plenor::graph::GraphFileConnection c;
  c.outFilter = "src";
  c.outPin = "Output";
  c.inFilter = "sink";
  c.inPin = "In";
  c.mediaType.majorType = a.clsid;
  c.mediaType.sampleSize = 4000000000u;
  c.mediaType.fixedSizeSamples = true;
  c.mediaType.format = std::string("\x00\x10\x20", 3);
  g.connections = {c};

  const std::string text = plenor::graph::WriteGraphFile(g);
  plenor::graph::GraphFile back;
  std::string error;
  ASSERT_TRUE(plenor::graph::ParseGraphFile(text, &back, &error)) << error;
  ASSERT_EQ(back.filters.size(), 2u);
  EXPECT_EQ(back.filters[0].filePath, a.filePath);
  EXPECT_EQ(back.filters[0].parameters, a.parameters);
  EXPECT_FALSE(back.filters[0].hasPersist);
  EXPECT_EQ(back.filters[1].persist, b.persist);
  EXPECT_EQ(back.filters[1].clsid, b.clsid);
  ASSERT_EQ(back.connections.size(), 1u);
  EXPECT_EQ(back.connections[0].mediaType.format, c.mediaType.format);
  EXPECT_EQ(back.connections[0].mediaType.sampleSize, 4000000000u);
  EXPECT_TRUE(back.connections[0].mediaType.fixedSizeSamples);

  struct Damage {
    std::string from, to, mention;
  };
  for (const Damage& d : std::vector<Damage>{
           {"\"name\": \"sink\"", "\"name\": \"src\"", "filters[1].name: 'src' names two filters"},
           {"\"pin\": \"In\"", "\"pin\": 5", "connections[0].to.pin: not a string"},
           {"\"role\": \"source\"", "\"role\": \"both\"", "filters[0].file.role"},
           {"\"fixed_size\": true", "\"fixed_size\": 1", "connections[0].media_type.fixed_size"},
           {"\"sample_size\": 4000000000", "\"sample_size\": 4294967296", "sample_size"},
           {"\"filters\": [", "\"filters\": 3, \"x\": [", "filters: not a list"},
           {"\"from\": {", "\"from\": {\"pin\": \"Output\"}, \"f\": {", "connections[0].from.filter: missing"},
       }) {
    SCOPED_TRACE(d.to);
    size_t at = text.find(d.from);
    ASSERT_NE(at, std::string::npos) << text;
    std::string bad = text;
    bad.replace(at, d.from.size(), d.to);
    plenor::graph::GraphFile out;
    EXPECT_FALSE(plenor::graph::ParseGraphFile(bad, &out, &error));
    EXPECT_NE(error.find(d.mention), std::string::npos) << error;
    EXPECT_TRUE(out.filters.empty());
  }
  EXPECT_FALSE(plenor::graph::ParseGraphFile("[]", &back, &error));
  EXPECT_FALSE(plenor::graph::ParseGraphFile("", &back, &error));
  EXPECT_NE(error.find("not valid JSON"), std::string::npos);
}

// Parameter values travel byte for byte: UTF-8 text as JSON text, anything else (zero bytes, cut
// or overlong sequences, surrogates, code points past U+10FFFF) as base64; files holding the text
// form read as before, and a value given both ways or as bad base64 is refused.
TEST(GraphFile, ParameterValuesKeepEveryByte) {
  struct Case {
    std::string value;
    bool text;  // written as "value" (else "value_base64")
    std::string shown;  // PrintableBytes
  };
  const Case cases[] = {
      {"25", true, "25"},
      {"", true, ""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5", true, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5"},
      {"tab\there\\", true, "tab\\x09here\\x5C"},
      {std::string("\0\0\0\x01h\xEE\x3C\x80", 8), false, "\\x00\\x00\\x00\\x01h\\xEE<\\x80"},
      {"\xFF", false, "\\xFF"},
      {"ab\xC3", false, "ab\\xC3"},
      {"\xC0\xAF", false, "\\xC0\\xAF"},
      {"\xED\xA0\x80", false, "\\xED\\xA0\\x80"},
      {"\xF4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80"},
      {"\xE0\x9F\xBF", false, "\\xE0\\x9F\\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plenor::graph::PrintableBytes(c.value));
    EXPECT_EQ(plenor::graph::IsUtf8(c.value), c.text);
    EXPECT_EQ(plenor::graph::PrintableBytes(c.value), c.shown);
    plenor::graph::GraphFile g;
    plenor::graph::GraphFileFilter f;
    f.name = "f";
    f.parameters = {{"p", c.value}, {"q", "1"}};
    g.filters = {f};
    const std::string text = plenor::graph::WriteGraphFile(g);
    EXPECT_EQ(text.find("\"value_base64\"") == std::string::npos, c.text) << text;
    plenor::graph::GraphFile back;
    std::string error;
    ASSERT_TRUE(plenor::graph::ParseGraphFile(text, &back, &error)) << error;
    ASSERT_EQ(back.filters.size(), 1u);
    EXPECT_EQ(back.filters[0].parameters, f.parameters);
  }
  const std::string head = R"({"format": "plenor-graph", "version": 1, "connections": [],
      "filters": [{"name": "f", "clsid": "{12345678-1234-5678-0102-030405060708}", "parameters": [)";
  struct Form {
    std::string parameter;
    std::string value;  // the value read, or the error's mention
    bool ok;
  };
  const Form forms[] = {
      {R"({"name": "p", "value": "AAAB"})", "AAAB", true},
      {R"({"name": "p", "value_base64": "AAAB"})", std::string("\0\0\x01", 3), true},
      {R"({"name": "p", "value": "x", "value_base64": "AAAB"})", "parameters[0].value: given together with value_base64", false},
      {R"({"name": "p", "value_base64": "AA*B"})", "parameters[0].value_base64: not valid base64", false},
      {R"({"name": "p"})", "parameters[0].value: missing", false},
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.parameter);
    plenor::graph::GraphFile back;
    std::string error;
    ASSERT_EQ(plenor::graph::ParseGraphFile(head + form.parameter + "]}]}", &back, &error), form.ok) << error;
    if (form.ok) {
      ASSERT_EQ(back.filters.size(), 1u);
      ASSERT_EQ(back.filters[0].parameters.size(), 1u);
      EXPECT_EQ(back.filters[0].parameters[0].second, form.value);
    } else {
      EXPECT_NE(error.find(form.value), std::string::npos) << error;
    }
  }
}

}  // namespace
