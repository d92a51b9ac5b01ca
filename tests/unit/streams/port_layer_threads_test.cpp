// The server address cache shared by processes and the ports shared by threads.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "port_layer_fixture.h"

namespace {

using vq::testing::PortLayerTest;

// Two processes record servers at the same time: the file lock of the ini store keeps
// every entry of both.
TEST_F(PortLayerTest, TwoProcessesUpdatingTheCacheLoseNothing) {
  constexpr int kEach = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      c_strm_port_layer own(nullptr, nullptr);
      for (int i = 0; i < kEach; ++i) {
        const std::string name = "p" + std::to_string(p) + "s" + std::to_string(i);
        own.write_cache(name.c_str(), ("10.0." + std::to_string(p) + "." + std::to_string(i)).c_str(),
                        STRM_PORT_TCPIP);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  char addr[kCachedAddrBytes];
  for (int p = 0; p < 2; ++p) {
    for (int i = 0; i < kEach; ++i) {
      const std::string name = "p" + std::to_string(p) + "s" + std::to_string(i);
      ASSERT_EQ(layer->read_cache(name.c_str(), addr, sizeof addr), STRM_PORT_TCPIP) << name;
      EXPECT_EQ(std::string(addr), "10.0." + std::to_string(p) + "." + std::to_string(i));
    }
  }
}

// Threads connecting at once through one layer make each port once.
TEST_F(PortLayerTest, ConcurrentConnectsMakeEachPortOnce) {
  shm_result = STRM_NO_SERVER;
  std::vector<std::thread> threads;
  std::atomic<int> connected{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      c_conn_parms parms;
      if (parms.init("CommLinks=ALL", false) != 0) return;
      c_encrypt_level level(0u, nullptr);
      char text[256];
      c_strm_pconn* pconn = nullptr;
      if (layer->connect(&parms, 0, text, sizeof text, nullptr, level, nullptr, &pconn) ==
          STRM_OK) {
        ++connected;
      }
      delete pconn;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(connected.load(), 6);
  int inits = 0;
  for (const std::string& event : trace) inits += event.find(" init:") != std::string::npos;
  EXPECT_EQ(inits, 2);
}

}  // namespace
