// A new connection: tied to its stream, counted by the environment, in its first state,
// with message strings of its own that read the environment's files.
#include <gtest/gtest.h>

#include <string>

#include "cmdseq/client.h"
#include "cmdseq/cmdseq_env.h"
#include "strm_client_double.h"
#include "utils/locale/lang_string.h"

namespace {

using vq::testing::Words;

std::string Message(UTLangStringBase* strings, unsigned long id) {
  char text[256] = "";
  strings->FormatMiscLangStr(id, text, sizeof text);
  return text;
}

class NewConnection : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CmdSeqAllocEnv(&env_), CMDSEQ_OK); }
  void TearDown() override { EXPECT_EQ(CmdSeqFreeEnv(&env_), CMDSEQ_OK); }

  a_cmdseq_env env_;
};

TEST_F(NewConnection, TiedToItsStreamAndCountedInItsFirstState) {
  a_strm_conn_rec first_stream;
  a_strm_conn_rec second_stream;
  a_cmdseq_conn* first = i_cs_AddNewConnection(&first_stream, &env_, 77);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Words(&first_stream).callback_data.load(), 77u);  // what the callbacks get
  EXPECT_EQ(env_.conn_count.load(), 1);
  EXPECT_EQ(first->ref_count(), 1u);  // the caller's
  EXPECT_EQ(first->env, &env_);
  EXPECT_EQ(first->strm_conn, &first_stream);
  EXPECT_EQ(first->status.load(), 0x11);
  EXPECT_EQ(first->flags2, 0);
  EXPECT_EQ(first->next_stmt_no, 1u);
  EXPECT_EQ(first->cache_limit, 50);
  EXPECT_EQ(first->max_cached, 0);
  EXPECT_EQ(first->pending_count, 0u);
  EXPECT_EQ(first->attrib, nullptr);

  a_cmdseq_conn* second = i_cs_AddNewConnection(&second_stream, &env_, 78);
  EXPECT_EQ(env_.conn_count.load(), 2);
  EXPECT_EQ(Words(&second_stream).callback_data.load(), 78u);
  EXPECT_EQ(Words(&first_stream).callback_data.load(), 77u);
  EXPECT_EQ(second->release(), 0u);
  EXPECT_EQ(first->release(), 0u);
  EXPECT_EQ(env_.conn_count.load(), 2);  // connections made, not connections alive
}

// Each connection formats with a catalog of its own (its character set changes with the
// connect), which reads the environment's files and goes with the connection.
TEST_F(NewConnection, HasMessageStringsOfItsOwn) {
  a_strm_conn_rec stream;
  a_cmdseq_conn* conn = i_cs_AddNewConnection(&stream, &env_, 1);
  ASSERT_NE(conn->lang, nullptr);
  EXPECT_TRUE(conn->own_lang);
  EXPECT_NE(conn->lang, static_cast<UTLangStringBase*>(env_.lang));
  EXPECT_EQ(conn->lang->file_count(), env_.lang->file_count());
  const std::string own = Message(conn->lang, 18031);
  EXPECT_FALSE(own.empty());
  EXPECT_EQ(own, Message(env_.lang, 18031));
  conn->release();  // deletes the catalog with the connection (the leak check sees it)
}

TEST(NewConnectionWithoutStrings, HasNoMessageStrings) {
  a_cmdseq_env env;  // never set up: no strings
  a_strm_conn_rec stream;
  a_cmdseq_conn* conn = i_cs_AddNewConnection(&stream, &env, 5);
  EXPECT_EQ(conn->lang, nullptr);
  EXPECT_FALSE(conn->own_lang);
  EXPECT_EQ(env.conn_count.load(), 1);
  conn->release();
}

}  // namespace
