#include "platform/DnsSdRequest.h"

#include <cstring>

namespace platform {

namespace {

std::string withoutFinalDot(const char* text)
{
  std::string result = text ? text : "";
  if (!result.empty() && result.back() == '.') result.pop_back();
  return result;
}

}  // namespace

std::string DnsSdRequest::serviceName() const
{
  std::string name;
  for (char c : instance) {
    if (c == '.' || c == '\\') name += '\\';
    name += c;
  }
  return name + "." + type;
}

DNSServiceErrorType dnsSdRequestOf(const char* name, const char* regtype, const char* domain,
                                   const char* host, uint16_t networkPort, uint16_t txtLength,
                                   const void* txtRecord, const std::string& machine, DnsSdRequest& request)
{
  request = DnsSdRequest();
  const std::string type = withoutFinalDot(regtype), zone = withoutFinalDot(domain);
  if (type.empty() || (txtLength && !txtRecord)) return kDNSServiceErr_BadParam;
  if (!zone.empty() && zone != "local") return kDNSServiceErr_Unsupported;
  request.instance = name && *name ? name : machine;
  request.type = type + ".local";
  request.host = host && *host ? withoutFinalDot(host) : machine + ".local";
  uint8_t port[2];
  memcpy(port, &networkPort, 2);
  request.port = uint16_t(port[0] << 8 | port[1]);
  const uint8_t* bytes = static_cast<const uint8_t*>(txtRecord);
  for (size_t at = 0; at < txtLength; at += 1 + bytes[at]) {
    if (at + 1 + bytes[at] > txtLength) {
      request.properties.clear();
      return kDNSServiceErr_BadParam;
    }
    const std::string item(reinterpret_cast<const char*>(bytes + at + 1), bytes[at]);
    const size_t equals = item.find('=');
    // An empty string stands for an empty record; an empty key is no entry.
    if (item.empty() || equals == 0) continue;
    if (equals == std::string::npos)
      request.properties.emplace_back(item, "");
    else
      request.properties.emplace_back(item.substr(0, equals), item.substr(equals + 1));
  }
  return kDNSServiceErr_NoError;
}

}  // namespace platform
