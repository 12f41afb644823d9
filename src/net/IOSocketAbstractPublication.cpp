// IOSocketAbstract's DNS-SD publication: the server options that name the service, and the
// registration handed to an MDnsPublication, whose own worker waits for the daemon.
#include "net/IOSocketAbstract.h"
#include "net/MDnsPublication.h"
#include "net/MDnsWrapper.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"

const char* const IOSocketAbstract::MDNS_SERVICE_NAME = "MDNS_SERVICE_NAME";
const char* const IOSocketAbstract::MDNS_SERVICE_TYPE = "MDNS_SERVICE_TYPE";
const char* const IOSocketAbstract::SOCKET_TXT_RECORD_ENTRIES = "SOCKET_TXT_RECORD_ENTRIES";

std::atomic<int> IOSocketAbstract::s_mdnsReplyTimeoutMs{5000};

bool IOSocketAbstract::publishServerWithMDNS()
{
  const char* protocol = MDNSProtocolTag();
  MDnsWrapper* wrapper = MDnsWrapper::sharedMDNSWrapper();
  // A server started again after closeIO registers anew; the old registration goes first.
  stopServerPublicationWithMDNS();
  if (!wrapper) {
    BASE_LOG(this, eMsgError, "calling MDnsWrapper::sharedMDNSWrapper()");
    return false;
  }
  BaseString* typeOption =
      dynamic_cast<BaseString*>(BaseDictionary::objectForKey(m_serverOptions, MDNS_SERVICE_TYPE));
  BaseString* name =
      dynamic_cast<BaseString*>(BaseDictionary::objectForKey(m_serverOptions, MDNS_SERVICE_NAME));
  BaseString* type = new BaseString();
  if (typeOption && protocol) type->setFormat("_%s.%s.", typeOption->cString(), protocol);
  // The port the socket is bound to: with port 0 the system chose it.
  uint16_t port = m_port;
  if (uint16_t bound = platform::socketLocalPort(m_socketfd.load())) port = bound;

  MDnsPublication* publication = nullptr;
  if (!protocol) {
    // MDNSProtocolTag has said why.
  } else if (!wrapper->MDnsIsLoaded()) {
    BASE_LOG(this, eMsgWarning,
             "no DNS-SD library found: the service is not announced; clients must connect by address");
    if (typeOption && name)
      MDnsPublication::postOutcome(name, type, port, MDnsPublication::ERR_NO_LIBRARY,
                                   "no DNS-SD library found", this);
  } else if (typeOption && name) {
    // Registering waits for the daemon, which may not answer for many seconds: the
    // publication's own worker does it, and the server serves meanwhile.
    BaseDictionary* entries = dynamic_cast<BaseDictionary*>(
        BaseDictionary::objectForKey(m_serverOptions, SOCKET_TXT_RECORD_ENTRIES));
    publication = new MDnsPublication(wrapper, name, type, port, entries, this, s_mdnsReplyTimeoutMs.load());
    if (!publication->start()) {
      publication->release();
      publication = nullptr;
    }
  }
  type->release();
  wrapper->release();
  m_publication = publication;
  return publication != nullptr;
}

bool IOSocketAbstract::stopServerPublicationWithMDNS()
{
  if (!m_publication) return true;
  m_publication->withdraw();
  m_publication->release();
  m_publication = nullptr;
  return true;
}
