// A port layer whose two links are FakePorts, registered through the makers, with the
// server address cache in a temporary HOME and the build's English messages.
#ifndef VQ_TESTS_UNIT_STREAMS_PORT_LAYER_FIXTURE_H
#define VQ_TESTS_UNIT_STREAMS_PORT_LAYER_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/conn_parms.h"
#include "config/encrypt_level.h"
#include "config/option_tables.h"
#include "scoped_environment.h"
#include "streams/buffer_pool.h"
#include "streams/host_functions.h"
#include "streams/port_layer.h"
#include "strm_fakes.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace vq::testing {

class PortLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vqportXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    env_.Set("HOME", home_);
    ASSERT_NE(0, file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res"));
    UTResFile* files[] = {&file_};
    catalog_.SetResFiles(files, 1);
    catalog_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    catalog_.reset();
    vq::strm::SetLibraryCatalog(&catalog_);
    current_ = this;
    vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, &MakeShmPort);
    vq::strm::SetPortMaker(STRM_PORT_TCPIP, &MakeTcpPort);
    layer = std::make_unique<c_strm_port_layer>(nullptr, controller_.default_pool);
  }
  void TearDown() override {
    layer.reset();
    vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, nullptr);
    vq::strm::SetPortMaker(STRM_PORT_TCPIP, nullptr);
    vq::strm::SetLibraryCatalog(nullptr);
    current_ = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }

  // Connects by the connection string; `links`, when given, is put into CommLinks as
  // it stands (a value the connection-string parser itself would refuse).
  an_int_strm_error Connect(const char* text, c_strm_pconn** pconn,
                            std::uint32_t level_number = 0, const char* links = nullptr) {
    c_conn_parms parms;
    EXPECT_EQ(parms.init(text, false), 0) << text;
    if (links != nullptr) parms.setString(kSlotCommLinks, links);
    c_encrypt_level level(level_number, nullptr);
    err[0] = '\0';
    return layer->connect(&parms, 0, err, sizeof err, nullptr, level, nullptr, pconn);
  }

  std::string CachePath() const { return home_ + "/.vellumcrest12/vcsrv.ini"; }
  std::string CacheFile() const {
    std::ifstream in(CachePath());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void WriteCacheFile(const std::string& text) const {
    std::filesystem::create_directories(home_ + "/.vellumcrest12");
    std::ofstream(CachePath()) << text;
  }

  // What the fake links do.
  an_int_strm_error shm_result = STRM_OK;
  an_int_strm_error tcp_result = STRM_OK;
  an_int_strm_error shm_init_result = STRM_OK;
  bool tls_ports = false;
  std::string reached_addr;
  std::vector<std::string> trace;
  char err[512] = "";
  std::unique_ptr<c_strm_port_layer> layer;

  // The fake link a type was made as (null before its first use).
  FakePort* Port(a_port_type type) { return static_cast<FakePort*>(layer->port(type)); }

 private:
  static c_strm_port* Make(std::uint8_t type, an_int_strm_error* result) {
    PortLayerTest* t = current_;
    auto* port = new FakePort(type, &t->trace);
    const bool shm = type == STRM_PORT_SHARED_MEMORY;
    port->init_result = shm ? t->shm_init_result : STRM_OK;
    port->connect_result = shm ? t->shm_result : t->tcp_result;
    port->reached_addr = t->reached_addr;
    port->tls = t->tls_ports;
    *result = STRM_OK;
    return port;
  }
  static c_strm_port* MakeShmPort(c_strm_port_layer*, c_strm_env_notifier*, const char*,
                                  const char*, an_int_strm_error* result, void*) {
    return Make(STRM_PORT_SHARED_MEMORY, result);
  }
  static c_strm_port* MakeTcpPort(c_strm_port_layer*, c_strm_env_notifier*, const char*,
                                  const char*, an_int_strm_error* result, void*) {
    return Make(STRM_PORT_TCPIP, result);
  }

  std::string home_;
  ScopedEnvironment env_{{"HOME", "VCDIR", "VELLUM12", "ODBCINI", "ODBC_INI", "ODBCHOME"}};
  c_strm_frlist_controller controller_{7300};
  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase catalog_{&locale_};
  static inline PortLayerTest* current_ = nullptr;
};

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_STREAMS_PORT_LAYER_FIXTURE_H
