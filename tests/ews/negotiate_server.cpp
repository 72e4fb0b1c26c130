#include "tests/ews/negotiate_server.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>

namespace oa::ews::testing {
namespace {

std::string StatusText(OM_uint32 status, int type) {
  std::string text;
  OM_uint32 context = 0;
  do {
    OM_uint32 minor = 0;
    gss_buffer_desc part = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(gss_display_status(&minor, status, type, GSS_C_NO_OID, &context, &part))) break;
    if (!text.empty()) text += "; ";
    text.append(static_cast<const char*>(part.value), part.length);
    gss_release_buffer(&minor, &part);
  } while (context != 0);
  return text;
}

std::string ErrorText(OM_uint32 major, OM_uint32 minor) {
  std::string text = StatusText(major, GSS_C_GSS_CODE);
  if (minor != 0) text += ": " + StatusText(minor, GSS_C_MECH_CODE);
  return text;
}

struct Buffer {
  gss_buffer_desc b = GSS_C_EMPTY_BUFFER;
  ~Buffer() {
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &b);
  }
};

struct Name {
  gss_name_t n = GSS_C_NO_NAME;
  ~Name() {
    OM_uint32 minor = 0;
    gss_release_name(&minor, &n);
  }
};

struct Context {
  gss_ctx_id_t c = GSS_C_NO_CONTEXT;
  ~Context() {
    OM_uint32 minor = 0;
    gss_delete_sec_context(&minor, &c, GSS_C_NO_BUFFER);
  }
};

}  // namespace

struct NegotiateAcceptor::Cred {
  gss_cred_id_t c = GSS_C_NO_CREDENTIAL;
  ~Cred() {
    OM_uint32 minor = 0;
    gss_release_cred(&minor, &c);
  }
};

NegotiateAcceptor::NegotiateAcceptor(const std::string& keytab) : cred_(std::make_unique<Cred>()) {
  gss_key_value_element_desc element{"keytab", keytab.c_str()};
  gss_key_value_set_desc store{1, &element};
  OM_uint32 minor = 0;
  const OM_uint32 major =
      gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET, GSS_C_ACCEPT,
                            &store, &cred_->c, nullptr, nullptr);
  if (GSS_ERROR(major)) error_ = "no service credentials: " + ErrorText(major, minor);
}

NegotiateAcceptor::~NegotiateAcceptor() = default;

NegotiateVerdict NegotiateAcceptor::Accept(const std::vector<uint8_t>& token) {
  NegotiateVerdict v;
  if (!error_.empty()) {
    v.why = error_;
    return v;
  }
  Context context;
  Name source;
  Buffer output;
  gss_buffer_desc input{token.size(), const_cast<uint8_t*>(token.data())};
  OM_uint32 minor = 0;
  const OM_uint32 major =
      gss_accept_sec_context(&minor, &context.c, cred_->c, &input, GSS_C_NO_CHANNEL_BINDINGS,
                             &source.n, nullptr, &output.b, nullptr, nullptr, nullptr);
  if (output.b.length > 0) {
    const auto* p = static_cast<const uint8_t*>(output.b.value);
    v.output.assign(p, p + output.b.length);
  }
  if (GSS_ERROR(major)) {
    v.why = ErrorText(major, minor);
    return v;
  }
  if (major & GSS_S_CONTINUE_NEEDED) {
    v.why = "the mechanism asked for another leg";
    return v;
  }
  Buffer display;
  if (GSS_ERROR(gss_display_name(&minor, source.n, &display.b, nullptr))) {
    v.why = "the client's name cannot be shown";
    return v;
  }
  v.principal.assign(static_cast<const char*>(display.b.value), display.b.length);
  v.complete = true;
  return v;
}

}  // namespace oa::ews::testing
