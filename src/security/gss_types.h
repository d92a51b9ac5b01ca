// The few GSS-API C-binding types, constants and entry-point shapes that the Kerberos
// binding uses. The library itself is loaded at run time, so nothing here is linked;
// these declarations only have to match the standard C bindings' layout (LP64: a
// 32-bit OM_uint32, size_t buffer lengths, opaque handles as pointers).
#ifndef VQ_SECURITY_GSS_TYPES_H
#define VQ_SECURITY_GSS_TYPES_H

#include <cstddef>
#include <cstdint>

namespace vq::gss {

using OMUint32 = std::uint32_t;  // OM_uint32: 32-bit unsigned on every platform

struct OidDesc {
  OMUint32 length;  // bytes at `elements`
  void* elements;   // DER encoding of the object identifier, without tag and length
};
using Oid = OidDesc*;

struct OidSetDesc {
  std::size_t count;
  Oid elements;
};
using OidSet = OidSetDesc*;

struct BufferDesc {
  std::size_t length;  // bytes at `value`
  void* value;
};
using Buffer = BufferDesc*;

// Opaque handles; the library owns what they point to.
using Name = struct NameOpaque*;
using Ctx = struct CtxOpaque*;
using Cred = struct CredOpaque*;
using ChannelBindings = struct ChannelBindingsOpaque*;

static_assert(sizeof(OidDesc) == 16 && sizeof(BufferDesc) == 16,
              "OID and buffer descriptors as the 64-bit C bindings lay them out");

// Major status values.
constexpr OMUint32 kComplete = 0;
constexpr OMUint32 kContinueNeeded = 1;
constexpr OMUint32 kBadName = 2u << 16;  // routine error "an invalid name was supplied"

// Request flags for the client side: mutual authentication and replay detection.
constexpr OMUint32 kMutualFlag = 2;
constexpr OMUint32 kReplayFlag = 4;

constexpr int kCredAccept = 2;  // gss_cred_usage_t: accepting credential
constexpr int kGssCode = 1;     // status type: a major status
constexpr int kMechCode = 2;    // status type: a mechanism (minor) status

// Entry points, by the argument lists of the C bindings.
using AcceptSecContextFn = OMUint32 (*)(OMUint32* minor, Ctx* context, Cred acceptor_cred,
                                        Buffer input_token, ChannelBindings bindings,
                                        Name* source_name, Oid* mech_type, Buffer output_token,
                                        OMUint32* ret_flags, OMUint32* time_rec,
                                        Cred* delegated_cred);
using AcquireCredFn = OMUint32 (*)(OMUint32* minor, Name desired_name, OMUint32 time_req,
                                   OidSet desired_mechs, int cred_usage, Cred* output_cred,
                                   OidSet* actual_mechs, OMUint32* time_rec);
using DeleteSecContextFn = OMUint32 (*)(OMUint32* minor, Ctx* context, Buffer output_token);
using DisplayNameFn = OMUint32 (*)(OMUint32* minor, Name name, Buffer output_name,
                                   Oid* output_name_type);
using DisplayStatusFn = OMUint32 (*)(OMUint32* minor, OMUint32 status_value, int status_type,
                                     Oid mech_type, OMUint32* message_context,
                                     Buffer status_string);
using InitSecContextFn = OMUint32 (*)(OMUint32* minor, Cred claimant_cred, Ctx* context,
                                      Name target_name, Oid mech_type, OMUint32 req_flags,
                                      OMUint32 time_req, ChannelBindings bindings,
                                      Buffer input_token, Oid* actual_mech_type,
                                      Buffer output_token, OMUint32* ret_flags,
                                      OMUint32* time_rec);
using ImportNameFn = OMUint32 (*)(OMUint32* minor, Buffer input_name, Oid name_type,
                                  Name* output_name);
using ReleaseBufferFn = OMUint32 (*)(OMUint32* minor, Buffer buffer);
using ReleaseCredFn = OMUint32 (*)(OMUint32* minor, Cred* cred);
using ReleaseNameFn = OMUint32 (*)(OMUint32* minor, Name* name);

// A library's own lookup of its name-type OIDs by symbol name; null when unknown.
using NameTypeLookupFn = Oid (*)(const char* name);

}  // namespace vq::gss

#endif  // VQ_SECURITY_GSS_TYPES_H
