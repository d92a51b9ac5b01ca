// The cancel token: a small peer that holds a copy of the statement handle, so that
// another Java thread can cancel an execution without the statement's monitor, which the
// executing thread holds. The token's monitor orders cancel against the token's close.
#include "jdbcodbc/c/statement.h"

#include <cstdio>

namespace {

// The field "stmt_cancel_token" of the Java statement object, or null with the lookup's
// exception pending.
jfieldID TokenField(JNIEnv* env, jobject stmt) {
  char name[160];
  if (!RewriteClassName(NOSE()->version(), "tovrak/jdbc/vellumcrest/IStatementCancelToken",
                        name, sizeof(name)))
    return nullptr;
  char signature[176];
  std::snprintf(signature, sizeof(signature), "L%s;", name);
  jclass cls = env->GetObjectClass(stmt);
  if (cls == nullptr) return nullptr;
  jfieldID field = env->GetFieldID(cls, "stmt_cancel_token", signature);
  env->DeleteLocalRef(cls);
  return env->ExceptionCheck() ? nullptr : field;
}

}  // namespace

ConstructibleINativeClass* StatementCancelToken::getConstructibleINativeClass() {
  return static_cast<ConstructibleINativeClass*>(
      NOSE()->wrapper(NativeObjSharedEnv::kIStatementCancelToken));
}

void Statement::createJCancelToken(JNIEnv* env, jobject stmt) {
  auto* peer = static_cast<Statement*>(NOSE()->getNativeObj(env, stmt));
  if (peer == nullptr) return;
  auto* token = new StatementCancelToken(peer->handle());
  jobject made = token->createJobj(env);
  if (made == nullptr || env->ExceptionCheck()) {
    token->fini(env);
    delete token;
    return;
  }
  jfieldID field = TokenField(env, stmt);
  if (field == nullptr) {
    token->fini(env);
    delete token;
    return;
  }
  env->SetObjectField(stmt, field, made);
}

jobject Statement::getJCancelToken(JNIEnv* env, jobject stmt) {
  if (stmt == nullptr || env->ExceptionCheck()) return nullptr;
  jfieldID field = TokenField(env, stmt);
  return field != nullptr ? env->GetObjectField(stmt, field) : nullptr;
}

void Statement::cancel(JNIEnv* env, jobject stmt) {
  jobject token = getJCancelToken(env, stmt);
  // A statement whose token was never made has nothing running that we could reach.
  if (token == nullptr) return;
  if (env->MonitorEnter(token) == JNI_OK) {
    auto* peer = static_cast<StatementCancelToken*>(NOSE()->getNativeObj(env, token));
    if (peer != nullptr && peer->handle() != SQL_NULL_HSTMT) (void)SQLCancel(peer->handle());
    env->MonitorExit(token);
  }
  env->DeleteLocalRef(token);
}

void Statement::closeCancelToken(JNIEnv* env, jobject token) {
  if (token == nullptr || env->MonitorEnter(token) != JNI_OK) return;
  NativeObj* peer = NOSE()->closeNativeObj(env, token, "StatementCancelToken");
  if (peer != nullptr) peer->fini(env);
  env->MonitorExit(token);
  delete peer;
}
