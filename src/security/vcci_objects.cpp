// Wrappers of provider objects: forwarding to the slot's tables, with a null slot
// reported as an internal error rather than called.
#include "security/vcci_objects.h"

namespace {

// The provider's last error copied into the wrapper's error; a provider without the
// query (or without a record) gives code 34.
template <typename Fn>
DBVCCIError* last_error(Fn fn, void* object, DBVCCIError* error) {
  error->_CloneFrom(fn != nullptr ? fn(object) : nullptr, 1);
  return error;
}

// The result of an operation the provider does not offer.
unsigned missing(DBVCCIError* error) {
  error->Clear();
  error->Set(kVCCIErrInternal);
  return 1;
}

}  // namespace

// ---- DBVCCIStream ----

DBVCCIStream::DBVCCIStream(void* stream, DBVCCIInterface* iface, DBVCCIEnvironment* env)
    : stream_(stream), iface_(iface), env_(env) {
  error_.createMutex(env);
}

DBVCCIStream::~DBVCCIStream() {
  if (stream_ != nullptr && iface_->stream_iface.Destroy != nullptr) {
    iface_->stream_iface.Destroy(stream_);
  }
}

unsigned DBVCCIStream::Init(a_vcci_side side, _a_vcci_user_option* options) {
  side_ = side;
  if (stream_ == nullptr) {
    error_.Clear();
    error_.Set(kVCCIErrNoMemory);
    return 1;
  }
  if (iface_->stream_iface.Init == nullptr) return missing(&error_);
  return iface_->stream_iface.Init(stream_, side, options);
}

unsigned DBVCCIStream::Fini() {
  if (stream_ == nullptr || iface_->stream_iface.Fini == nullptr) return 0;
  return iface_->stream_iface.Fini(stream_);
}

unsigned char DBVCCIStream::GetAlgorithmID() const {
  if (stream_ == nullptr || iface_->stream_iface.GetAlgorithmID == nullptr) return 0;
  return static_cast<unsigned char>(iface_->stream_iface.GetAlgorithmID(stream_) & 0xFF);
}

DBVCCIError* DBVCCIStream::GetLastError() {
  if (stream_ == nullptr) return &error_;
  return last_error(iface_->stream_iface.GetLastError, stream_, &error_);
}

DBVCCIStreamConn* DBVCCIStream::CreateConn(const a_vcci_conn_callbacks* callbacks,
                                           _a_vcci_user_option* options, void* context,
                                           DBVCCIError* error) {
  if (error != nullptr) error->Clear();
  if (stream_ == nullptr || iface_->stream_conn_iface.Create == nullptr) {
    if (error != nullptr) error->Set(kVCCIErrUnknownCipher);
    return nullptr;
  }
  a_vcci_error local{};
  void* conn = iface_->stream_conn_iface.Create(stream_, callbacks, context, options, &local);
  if (conn != nullptr) return new DBVCCIStreamConn(conn, iface_, env_);
  if (error != nullptr) error->_CloneFrom(&local, 1);
  if (iface_->error_iface.Destroy != nullptr) iface_->error_iface.Destroy(iface_->env, &local);
  return nullptr;
}

// ---- DBVCCIStreamConn ----

DBVCCIStreamConn::DBVCCIStreamConn(void* conn, DBVCCIInterface* iface, DBVCCIEnvironment* env)
    : conn_(conn), iface_(iface) {
  error_.createMutex(env);
}

DBVCCIStreamConn::~DBVCCIStreamConn() {
  if (iface_->stream_conn_iface.Destroy != nullptr) iface_->stream_conn_iface.Destroy(conn_);
}

unsigned DBVCCIStreamConn::Read(unsigned char* buffer, unsigned length, unsigned* count_read) {
  if (iface_->stream_conn_iface.Read == nullptr) return missing(&error_);
  return iface_->stream_conn_iface.Read(conn_, buffer, length, count_read);
}

unsigned DBVCCIStreamConn::Write(const unsigned char* bytes, unsigned length) {
  if (iface_->stream_conn_iface.Write == nullptr) return missing(&error_);
  return iface_->stream_conn_iface.Write(conn_, bytes, length);
}

unsigned DBVCCIStreamConn::FlushWrites() {
  if (iface_->stream_conn_iface.FlushWrites == nullptr) return missing(&error_);
  return iface_->stream_conn_iface.FlushWrites(conn_);
}

DBVCCIError* DBVCCIStreamConn::GetLastError() {
  return last_error(iface_->stream_conn_iface.GetLastError, conn_, &error_);
}

// ---- DBVCCIBlockEncrypter ----

DBVCCIBlockEncrypter::DBVCCIBlockEncrypter(void* encrypter, DBVCCIInterface* iface,
                                           std::uint32_t slot, DBVCCIEnvironment* env)
    : encrypter_(encrypter), iface_(iface), slot_(slot) {
  error_.createMutex(env);
}

DBVCCIBlockEncrypter::~DBVCCIBlockEncrypter() {
  if (iface_->block_encrypter_iface.Destroy != nullptr) {
    iface_->block_encrypter_iface.Destroy(encrypter_);
  }
}

unsigned char DBVCCIBlockEncrypter::GetAlgorithmID() {
  if (iface_->block_encrypter_iface.GetAlgorithmID == nullptr) return 0;
  return static_cast<unsigned char>(iface_->block_encrypter_iface.GetAlgorithmID(encrypter_) &
                                    0xFF);
}

unsigned DBVCCIBlockEncrypter::Encrypt(unsigned char* buffer, unsigned length,
                                       std::uint32_t iv_word) {
  if (iface_->block_encrypter_iface.Encrypt == nullptr) return missing(&error_);
  return iface_->block_encrypter_iface.Encrypt(encrypter_, buffer, length, iv_word);
}

unsigned DBVCCIBlockEncrypter::Decrypt(unsigned char* buffer, unsigned length,
                                       std::uint32_t iv_word) {
  if (iface_->block_encrypter_iface.Decrypt == nullptr) return missing(&error_);
  return iface_->block_encrypter_iface.Decrypt(encrypter_, buffer, length, iv_word);
}

unsigned DBVCCIBlockEncrypter::GetBlockSize() {
  if (iface_->block_encrypter_iface.GetBlockSize == nullptr) return 0;
  return iface_->block_encrypter_iface.GetBlockSize(encrypter_);
}

DBVCCIError* DBVCCIBlockEncrypter::GetLastError() {
  return last_error(iface_->block_encrypter_iface.GetLastError, encrypter_, &error_);
}

const char* DBVCCIBlockEncrypter::GetDLLName() const {
  return slot_ == VCCI_IFACE_FIPS ? kVCCIFipsModule : nullptr;
}

// ---- DBVCCIBlockHasher ----

DBVCCIBlockHasher::DBVCCIBlockHasher(void* hasher, DBVCCIInterface* iface,
                                     DBVCCIEnvironment* env)
    : hasher_(hasher), iface_(iface) {
  error_.createMutex(env);
}

DBVCCIBlockHasher::~DBVCCIBlockHasher() {
  if (iface_->block_hasher_iface.Destroy != nullptr)
    iface_->block_hasher_iface.Destroy(hasher_);
}

unsigned char DBVCCIBlockHasher::GetAlgorithmID() {
  if (iface_->block_hasher_iface.GetAlgorithmID == nullptr) return 0;
  return static_cast<unsigned char>(iface_->block_hasher_iface.GetAlgorithmID(hasher_) & 0xFF);
}

unsigned DBVCCIBlockHasher::GetMaxHashSize() {
  if (iface_->block_hasher_iface.GetMaxHashSize == nullptr) return 0;
  return iface_->block_hasher_iface.GetMaxHashSize(hasher_);
}

unsigned DBVCCIBlockHasher::GetBlockSize() {
  if (iface_->block_hasher_iface.GetBlockSize == nullptr) return 0;
  return iface_->block_hasher_iface.GetBlockSize(hasher_);
}

unsigned DBVCCIBlockHasher::BeginHash() {
  if (iface_->block_hasher_iface.BeginHash == nullptr) return missing(&error_);
  return iface_->block_hasher_iface.BeginHash(hasher_);
}

unsigned DBVCCIBlockHasher::AddData(const unsigned char* data, unsigned length) {
  if (iface_->block_hasher_iface.AddData == nullptr) return missing(&error_);
  return iface_->block_hasher_iface.AddData(hasher_, data, length);
}

unsigned DBVCCIBlockHasher::EndHash(unsigned char* out, unsigned size) {
  if (iface_->block_hasher_iface.EndHash == nullptr) return missing(&error_);
  return iface_->block_hasher_iface.EndHash(hasher_, out, size);
}

DBVCCIError* DBVCCIBlockHasher::GetLastError() {
  return last_error(iface_->block_hasher_iface.GetLastError, hasher_, &error_);
}

// ---- DBVCCIPasswordHasher ----

DBVCCIPasswordHasher::DBVCCIPasswordHasher(void* hasher, DBVCCIInterface* iface,
                                           DBVCCIEnvironment* env)
    : hasher_(hasher), iface_(iface) {
  error_.createMutex(env);
}

DBVCCIPasswordHasher::~DBVCCIPasswordHasher() {
  if (iface_->password_hasher_iface.Destroy != nullptr) {
    iface_->password_hasher_iface.Destroy(hasher_);
  }
}

unsigned char DBVCCIPasswordHasher::GetAlgorithmID() {
  if (iface_->password_hasher_iface.GetAlgorithmID == nullptr) return 0;
  return static_cast<unsigned char>(iface_->password_hasher_iface.GetAlgorithmID(hasher_) &
                                    0xFF);
}

unsigned DBVCCIPasswordHasher::GetMaxHashSize() {
  if (iface_->password_hasher_iface.GetMaxHashSize == nullptr) return 0;
  return iface_->password_hasher_iface.GetMaxHashSize(hasher_);
}

unsigned DBVCCIPasswordHasher::Hash(const unsigned char* in, unsigned length,
                                    unsigned char* out, unsigned size) {
  if (iface_->password_hasher_iface.Hash == nullptr) return missing(&error_);
  return iface_->password_hasher_iface.Hash(hasher_, in, length, out, size);
}

DBVCCIError* DBVCCIPasswordHasher::GetLastError() {
  return last_error(iface_->password_hasher_iface.GetLastError, hasher_, &error_);
}
