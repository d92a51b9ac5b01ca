// Crypto error records on the host side, their messages, and host-callback mutexes.
#include "security/vcci_error.h"

#include <cstdio>

#include "security/vcci_environment.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

namespace {

enum ArgKind { kArgNone, kArgParm, kArgSubCode };

struct CodeMessage {
  std::uint32_t code;
  unsigned long message;
  ArgKind arg;
};

// Codes 11, 16, 34 and every code not listed map to 17587 with the sub-code.
constexpr CodeMessage kMessages[] = {
    {0, 0, kArgNone},        {1, 17590, kArgNone},     {2, 9845, kArgParm},
    {3, 13974, kArgSubCode}, {4, 13975, kArgNone},     {5, 9118, kArgParm},
    {6, 14824, kArgParm},    {7, 11242, kArgSubCode},  {8, 11237, kArgSubCode},
    {9, 13976, kArgSubCode}, {10, 11237, kArgSubCode}, {12, 13977, kArgNone},
    {13, 13345, kArgParm},   {14, 13346, kArgParm},    {15, 13347, kArgParm},
    {17, 14003, kArgNone},   {18, 14215, kArgNone},    {19, 14216, kArgNone},
    {20, 9123, kArgNone},    {21, 17440, kArgNone},    {22, 17441, kArgNone},
    {23, 17446, kArgParm},   {24, 17591, kArgSubCode}, {25, 14554, kArgParm},
    {26, 13972, kArgParm},   {27, 17589, kArgNone},    {28, 17921, kArgParm},
    {29, 17932, kArgNone},   {30, 17993, kArgNone},    {31, 18541, kArgNone},
    {32, 14909, kArgNone},   {33, 14530, kArgNone},
};
constexpr unsigned long kOtherMessage = 17587;

// Holds a DBVCCIBaseMutex for one scope.
class Hold {
 public:
  explicit Hold(DBVCCIBaseMutex* m) : m_(m) { m_->get(); }
  ~Hold() { m_->give(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  DBVCCIBaseMutex* m_;
};

}  // namespace

DBVCCIBaseMutex::~DBVCCIBaseMutex() = default;

DBVCCIMutex::DBVCCIMutex(const a_vcci_callbacks* callbacks, void* context)
    : callbacks_(callbacks), context_(context) {
  if (callbacks_ != nullptr && callbacks_->mutex_create != nullptr) {
    handle_ = callbacks_->mutex_create(context_);
  }
}

DBVCCIMutex::~DBVCCIMutex() {
  if (handle_ != nullptr && callbacks_->mutex_destroy != nullptr) {
    callbacks_->mutex_destroy(context_, handle_);
  }
}

void DBVCCIMutex::get() {
  if (handle_ != nullptr && callbacks_->mutex_get != nullptr) {
    callbacks_->mutex_get(context_, handle_);
  }
}

void DBVCCIMutex::give() {
  if (handle_ != nullptr && callbacks_->mutex_give != nullptr) {
    callbacks_->mutex_give(context_, handle_);
  }
}

DBVCCIError::DBVCCIError() : mutex_(new DBVCCIBaseMutex) {}

DBVCCIError::~DBVCCIError() {
  free_parms();
  delete mutex_;
}

void DBVCCIError::free_parms() {
  if (error_.parms != nullptr) {
    for (char** p = error_.parms; *p != nullptr; ++p) ut_free(*p);
    ut_free(error_.parms);
    error_.parms = nullptr;
  }
}

void DBVCCIError::Clear() {
  Hold hold(mutex_);
  free_parms();
  error_.code = 0;
  error_.sub_code = 0;
}

void DBVCCIError::Set(std::uint32_t code, std::uint32_t sub_code) {
  Hold hold(mutex_);
  error_.code = code;
  error_.sub_code = sub_code;
}

void DBVCCIError::AddParm(const char* text) {
  if (text == nullptr) return;
  Hold hold(mutex_);
  std::size_t count = 0;
  if (error_.parms != nullptr) {
    while (error_.parms[count] != nullptr) ++count;
  }
  error_.parms = static_cast<char**>(ut_realloc(error_.parms, (count + 2) * sizeof(char*)));
  error_.parms[count] = ut_strdup(text);
  error_.parms[count + 1] = nullptr;
}

const char* DBVCCIError::GetParm(int i) const {
  Hold hold(mutex_);
  if (i < 0 || error_.parms == nullptr) return nullptr;
  for (int k = 0; k < i; ++k) {
    if (error_.parms[k] == nullptr) return nullptr;
  }
  return error_.parms[i];
}

std::uint32_t DBVCCIError::GetCode() const {
  Hold hold(mutex_);
  return error_.code;
}

std::uint32_t DBVCCIError::GetSubCode() const {
  Hold hold(mutex_);
  return error_.sub_code;
}

unsigned long DBVCCIError::_getTlsErrorId(unsigned* use_parameter,
                                          unsigned* use_subcode) const {
  unsigned long message = kOtherMessage;
  ArgKind arg = kArgSubCode;
  for (const CodeMessage& row : kMessages) {
    if (row.code == error_.code) {
      message = row.message;
      arg = row.arg;
      break;
    }
  }
  if (use_parameter != nullptr) *use_parameter = arg == kArgParm ? 1 : 0;
  if (use_subcode != nullptr) *use_subcode = arg == kArgSubCode ? 1 : 0;
  return message;
}

void DBVCCIError::GetString(UTLangStringBase* messages, char* buffer, unsigned size,
                            const char* parm) const {
  if (buffer == nullptr || size == 0 || messages == nullptr) return;
  buffer[0] = '\0';
  Hold hold(mutex_);
  if (parm == nullptr && error_.parms != nullptr) parm = error_.parms[0];
  unsigned use_parm = 0;
  unsigned use_sub = 0;
  const unsigned long id = _getTlsErrorId(&use_parm, &use_sub);
  if (id == 0) return;
  if (use_parm != 0) {
    messages->FormatMiscLangStr(id, buffer, size, parm);
  } else if (use_sub != 0) {
    // The messages take their argument as text, so the number is written out here.
    char number[16];
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(error_.sub_code));
    messages->FormatMiscLangStr(id, buffer, size, number);
  } else {
    messages->FormatMiscLangStr(id, buffer, size);
  }
}

void DBVCCIError::copy_record(const a_vcci_error& source) {
  error_.code = source.code;
  error_.sub_code = source.sub_code;
  if (source.parms == nullptr) return;
  std::size_t count = 0;
  while (source.parms[count] != nullptr) ++count;
  error_.parms = static_cast<char**>(ut_alloc((count + 1) * sizeof(char*)));
  for (std::size_t i = 0; i < count; ++i) error_.parms[i] = ut_strdup(source.parms[i]);
  error_.parms[count] = nullptr;
}

void DBVCCIError::_CloneFrom(const a_vcci_error* source, unsigned lock) {
  if (source == &error_) return;
  if (lock != 0) mutex_->get();
  free_parms();
  if (source == nullptr) {
    error_.code = kVCCIErrInternal;
    error_.sub_code = 0;
  } else {
    copy_record(*source);
  }
  if (lock != 0) mutex_->give();
}

void DBVCCIError::CloneFrom(const DBVCCIError* other) {
  if (other == this) return;
  if (other == nullptr) {
    _CloneFrom(nullptr, 1);
    return;
  }
  // Copy the other error under its own mutex into a bare temporary first, then into
  // this one under this mutex: the two mutexes are never held together, so two errors
  // cloned into each other from two threads cannot deadlock.
  DBVCCIError temp;
  other->mutex_->get();
  temp.copy_record(other->error_);
  other->mutex_->give();
  Hold hold(mutex_);
  free_parms();
  error_.code = temp.error_.code;
  error_.sub_code = temp.error_.sub_code;
  error_.parms = temp.error_.parms;
  temp.error_.parms = nullptr;
}

void DBVCCIError::createMutex(DBVCCIEnvironment* env) {
  if (env == nullptr) return;
  DBVCCIBaseMutex* made = env->createMutex();
  delete mutex_;
  mutex_ = made;
}
