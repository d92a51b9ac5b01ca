// The communication environment (c_strm_env, the object behind a_strm_env): the buffer
// pools and the session layer of one host environment, with the host's notifier,
// catalog and locale. The session layer owns the transport and port layers and every
// connection; destroying the environment deletes them all.
#ifndef VQ_STREAMS_STREAM_ENV_H
#define VQ_STREAMS_STREAM_ENV_H

#include <cstdint>

#include "streams/buffer_pool.h"
#include "streams/session_layer.h"
#include "utils/base/list.h"

class UTLangStringBase;
class UTLocale;

class c_strm_env : public c_utils_link {
 public:
  // Builds the pools for `buffer_size` (the default size for 0) and the session layer;
  // the notifier, catalog and locale are not owned.
  c_strm_env(c_strm_env_notifier* notifier, std::uint16_t buffer_size, std::uint32_t app_kind,
             UTLangStringBase* catalog, UTLocale* locale);
  // Deletes every connection, then the session layer, then the pools.
  ~c_strm_env() override;
  c_strm_env(const c_strm_env&) = delete;
  c_strm_env& operator=(const c_strm_env&) = delete;

  c_strm_frlist_controller& controller() { return controller_; }
  c_strm_sess_layer& sess_layer() { return sess_layer_; }
  c_strm_env_notifier* notifier() const { return notifier_; }
  std::uint32_t app_kind() const { return app_kind_; }
  UTLangStringBase* catalog() const { return catalog_; }
  UTLocale* locale() const { return locale_; }
  bool user_message_callback() const { return user_message_callback_; }
  void set_user_message_callback() { user_message_callback_ = true; }

 private:
  c_strm_frlist_controller controller_;
  c_strm_sess_layer sess_layer_;
  c_strm_env_notifier* notifier_;    // not owned unless StrmFreeEnv is told so
  std::uint32_t app_kind_;           // passed through to the layers below
  std::uint16_t reserved_ = 0;
  UTLangStringBase* catalog_;        // not owned
  UTLocale* locale_;                 // not owned
  bool user_message_callback_ = false;
};

namespace vq::strm {
// Environments alive in the process.
int LiveEnvironments();
}  // namespace vq::strm

#endif  // VQ_STREAMS_STREAM_ENV_H
