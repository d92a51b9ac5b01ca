// The stand-in's answers to discovery requests, byte by byte: each form answered in its
// own form, the database name only when asked, the token echoed, and no answer at all
// to anything that is not a well-formed request for this server.
#include "discovery_responder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

const std::string kTag = "CONNECTIONLESS_VQP";

// The connectionless header for a packet of `length` bytes.
std::string FormHeader(int length, int requestOrResponse, int number = 1) {
  return Bytes({27, 0, length >> 8, length & 0xFF, 0, 0, 0, 0, 18}) + kTag +
         Bytes({0, 0, 0, number, requestOrResponse});
}

const std::string kToken = Bytes({1, 2, 3, 4, 5, 6, 7, 8});
const std::string kDefaultSections =
    Bytes({1, 2, 0, 0, 3, 1, 1, 4, 8}) + kToken + Bytes({7, 2, 4, 0xB0});

const vqeng::DiscoveryIdentity kId{"demo", "demodb", 2638};

// The answer's sections for `kId`, with the database section when asked.
std::string AnswerSections(bool database) {
  std::string s = Bytes({0, 5}) + std::string("demo", 4) + Bytes({0}) +
                  Bytes({1, 2, 0x0A, 0x4E}) + Bytes({3, 1, 1, 4, 8}) + kToken;
  if (database) s += Bytes({6, 7}) + std::string("demodb", 6) + Bytes({0});
  return s + Bytes({7, 2, 4, 0xB0});
}

TEST(DiscoveryResponder, ListingRequestsGetTheServersNameAndPort) {
  // No name asked: every server answers.
  const std::string request =
      FormHeader(61, 0) + Bytes({0, 4, 0, 5, 0, 5, 0, 0}) + kDefaultSections;
  ASSERT_EQ(61u, request.size());
  const std::string expected =
      FormHeader(66, 1) + Bytes({0, 4, 0, 5, 0, 5}) + AnswerSections(false);
  ASSERT_EQ(66u, expected.size());
  EXPECT_EQ(Hex(expected), Hex(vqeng::answer_discovery(request, kId)));
}

TEST(DiscoveryResponder, AnEmptyDatabaseSectionAsksForTheDatabase) {
  const std::string request = FormHeader(63, 0, 7) + Bytes({0, 4, 0, 5, 0, 6, 0, 0}) +
                              kDefaultSections.substr(0, 17) + Bytes({6, 0}) +
                              kDefaultSections.substr(17);
  ASSERT_EQ(63u, request.size());
  const std::string expected =
      FormHeader(75, 1, 7) + Bytes({0, 4, 0, 5, 0, 6}) + AnswerSections(true);
  EXPECT_EQ(Hex(expected), Hex(vqeng::answer_discovery(request, kId)));
}

TEST(DiscoveryResponder, TextFormRequestsForThisServerGetATextFormAnswer) {
  const std::string request = std::string("STRMBROADdemo", 13) + Bytes({0, 0, 4, 0, 1, 0, 5}) +
                              Bytes({0, 5}) + std::string("demo", 4) + Bytes({0}) +
                              kDefaultSections;
  const std::string expected =
      std::string("STRMBRESPdemo", 13) + Bytes({0, 0, 4, 0, 5, 0, 5}) + AnswerSections(false);
  EXPECT_EQ(Hex(expected), Hex(vqeng::answer_discovery(request, kId)));
  // A bare text-form request, with no section block at all.
  const std::string bare = std::string("STRMBROADdemo", 13) + Bytes({0});
  const std::string answer = vqeng::answer_discovery(bare, kId);
  EXPECT_EQ(0, answer.compare(0, 14, std::string("STRMBRESPdemo", 13) + Bytes({0})));
}

TEST(DiscoveryResponder, NoAnswer) {
  const std::string good =
      FormHeader(61, 0) + Bytes({0, 4, 0, 5, 0, 5, 0, 0}) + kDefaultSections;
  std::string longer = good + Bytes({0});
  std::string response = good;
  response[31] = 1;
  std::string wrongTag = good;
  wrongTag[9] = 'c';
  std::string pastEnd = FormHeader(44, 0) + Bytes({0, 4, 0, 5, 0, 1, 0, 9, 'a', 'b', 'c', 0});
  std::string unterminated =
      FormHeader(44, 0) + Bytes({0, 4, 0, 5, 0, 1, 0, 4, 'a', 'b', 'c', 'd'});
  std::string shortBlock = FormHeader(36, 0) + Bytes({0, 4, 0, 5});
  std::string bigRest = FormHeader(38, 0) + Bytes({0, 200, 0, 5, 0, 0});
  std::string moreSectionsThanBytes = FormHeader(38, 0) + Bytes({0, 4, 0, 5, 0, 3});
  const struct {
    const char* what;
    std::string datagram;
  } cases[] = {
      {"empty", ""},
      {"garbage", "hello"},
      {"a byte too long for its header", longer},
      {"truncated", good.substr(0, 40)},
      {"a response", response},
      {"another form tag", wrongTag},
      {"a section past the end", pastEnd},
      {"a name without its zero byte", unterminated},
      {"a block header cut short", shortBlock},
      {"a block header longer than the block", bigRest},
      {"fewer sections than counted", moreSectionsThanBytes},
      {"a text-form request for another server",
       std::string("STRMBROADother", 14) + Bytes({0})},
      {"a name that differs in case", std::string("STRMBROADDEMO", 13) + Bytes({0})},
      {"a text-form name without its zero byte", "STRMBROADdemo"},
      {"a text-form answer", std::string("STRMBRESPdemo", 13) + Bytes({0})},
      {"a connectionless request for another server",
       FormHeader(44, 0) + Bytes({0, 4, 0, 5, 0, 1, 0, 4, 'a', 'b', 'c', 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ("", Hex(vqeng::answer_discovery(c.datagram, kId)));
  }
}

TEST(DiscoveryResponder, AConnectionlessRequestNamingThisServerIsAnswered) {
  const std::string request =
      FormHeader(45, 0) + Bytes({0, 4, 0, 5, 0, 1, 0, 5, 'd', 'e', 'm', 'o', 0});
  const std::string answer = vqeng::answer_discovery(request, kId);
  ASSERT_FALSE(answer.empty());
  EXPECT_EQ(1, answer[31]);
}

TEST(DiscoveryResponder, StartRefusesMalformedAddresses) {
  for (const char* where : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:70000", "localhost:2638",
                            "[::1]2638", "[::1:2638", "1.2.3.4.5:1"}) {
    SCOPED_TRACE(where);
    vqeng::DiscoveryResponder r;
    std::string why;
    EXPECT_FALSE(r.start(where, "demo", "demodb", 2638, why));
    EXPECT_FALSE(why.empty());
  }
  vqeng::DiscoveryResponder off;
  std::string why;
  EXPECT_TRUE(off.start("", "demo", "demodb", 2638, why));
  EXPECT_EQ(0, off.port());
}

}  // namespace
