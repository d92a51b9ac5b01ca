// A small program that loads the built driver library the way a host program does
// (dlopen) and runs one scenario of its start-up and shut-down, printing what it saw on
// standard output. The library start-up tests run it in a process of its own, so that
// its constructor, destructor, fork and signal behaviour are seen as a host sees them.
//
//   odbc_lib_probe <library> load | fork-unload | fork-calls | fork-fresh | signals
#include <dlfcn.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

void* g_lib = nullptr;

template <typename F>
F Sym(const char* name) {
  void* p = dlsym(g_lib, name);
  if (p == nullptr) {
    std::printf("missing %s\n", name);
    std::fflush(stdout);
    _exit(3);
  }
  return reinterpret_cast<F>(p);
}

using AllocHandle = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
using FreeHandle = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE);
using SetEnvAttr = SQLRETURN (*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
using Disconnect = SQLRETURN (*)(SQLHDBC);
using GetFunctions = SQLRETURN (*)(SQLHDBC, SQLUSMALLINT, SQLUSMALLINT*);

void Load(const char* path) {
  g_lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (g_lib == nullptr) {
    std::printf("dlopen failed: %s\n", dlerror());
    std::fflush(stdout);
    _exit(2);
  }
}

int WaitChild(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

void Handler(int) {}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  const char* path = argv[1];
  const char* scenario = argv[2];

  if (std::strcmp(scenario, "load") == 0) {
    Load(path);
    dlclose(g_lib);
    return 0;
  }

  if (std::strcmp(scenario, "fork-unload") == 0) {
    Load(path);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      dlclose(g_lib);
      _exit(0);
    }
    WaitChild(pid);
    // The parent's driver is untouched by the child's unload.
    SQLHANDLE env = nullptr;
    const SQLRETURN rc = Sym<AllocHandle>("SQLAllocHandle")(SQL_HANDLE_ENV, nullptr, &env);
    std::printf("parent alloc %d\n", rc);
    if (rc == SQL_SUCCESS) Sym<FreeHandle>("SQLFreeHandle")(SQL_HANDLE_ENV, env);
    std::fflush(stdout);
    _exit(0);  // no destructors: only the child's unload is traced
  }

  if (std::strcmp(scenario, "fork-calls") == 0) {
    Load(path);
    SQLHANDLE env = nullptr;
    SQLHANDLE dbc = nullptr;
    auto alloc = Sym<AllocHandle>("SQLAllocHandle");
    auto free_handle = Sym<FreeHandle>("SQLFreeHandle");
    if (alloc(SQL_HANDLE_ENV, nullptr, &env) != SQL_SUCCESS ||
        alloc(SQL_HANDLE_DBC, env, &dbc) != SQL_SUCCESS) {
      std::printf("parent set-up failed\n");
      return 4;
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      SQLHANDLE out = nullptr;
      SQLUSMALLINT supported = 0;
      std::printf("alloc-env %d\n", alloc(SQL_HANDLE_ENV, nullptr, &out));
      std::printf("alloc-dbc %d\n", alloc(SQL_HANDLE_DBC, env, &out));
      std::printf("set-env-attr %d\n", Sym<SetEnvAttr>("SQLSetEnvAttr")(
                                           env, SQL_ATTR_ODBC_VERSION,
                                           reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0));
      std::printf("get-functions %d\n",
                  Sym<GetFunctions>("SQLGetFunctions")(dbc, SQL_API_SQLFETCH, &supported));
      std::printf("disconnect %d\n", Sym<Disconnect>("SQLDisconnect")(dbc));
      std::printf("free-dbc %d\n", free_handle(SQL_HANDLE_DBC, dbc));
      std::printf("free-env %d\n", free_handle(SQL_HANDLE_ENV, env));
      std::fflush(stdout);
      _exit(0);
    }
    WaitChild(pid);
    std::printf("parent free-dbc %d\n", free_handle(SQL_HANDLE_DBC, dbc));
    std::printf("parent free-env %d\n", free_handle(SQL_HANDLE_ENV, env));
    return 0;
  }

  if (std::strcmp(scenario, "fork-fresh") == 0) {
    Load(path);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      SQLHANDLE env = nullptr;
      std::printf("child alloc-env %d\n",
                  Sym<AllocHandle>("SQLAllocHandle")(SQL_HANDLE_ENV, nullptr, &env));
      std::printf("child free-env %d\n", Sym<FreeHandle>("SQLFreeHandle")(SQL_HANDLE_ENV, env));
      std::fflush(stdout);
      _exit(0);
    }
    return WaitChild(pid);
  }

  if (std::strcmp(scenario, "signals") == 0) {
    struct sigaction mine {};
    mine.sa_handler = Handler;
    sigemptyset(&mine.sa_mask);
    sigaction(SIGTERM, &mine, nullptr);
    signal(SIGINT, SIG_IGN);
    Load(path);
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    std::printf("SIGTERM %s\n", now.sa_handler == Handler ? "kept" : "replaced");
    sigaction(SIGINT, nullptr, &now);
    std::printf("SIGINT %s\n", now.sa_handler == SIG_IGN ? "kept" : "replaced");
    dlclose(g_lib);
    sigaction(SIGTERM, nullptr, &now);
    std::printf("SIGTERM after unload %s\n", now.sa_handler == Handler ? "kept" : "replaced");
    return 0;
  }
  return 1;
}
