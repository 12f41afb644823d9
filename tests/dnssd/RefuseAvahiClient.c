/* A module for the loader's audit interface (LD_AUDIT): libavahi-client.so.3 cannot be found
   by anyone but libdns_sd.so.1. That is a machine whose only DNS-SD library is libdns_sd.so.1,
   where Avahi's libdns_sd, which is built on Avahi's client library, still works. Hiding the
   file would take libdns_sd away as well. */
#define _GNU_SOURCE
#include <link.h>
#include <stddef.h>
#include <string.h>

unsigned int la_version(unsigned int version)
{
  return version < LAV_CURRENT ? version : LAV_CURRENT;
}

/* Each object's cookie is its link map, so that a search knows who asks. */
unsigned int la_objopen(struct link_map* map, Lmid_t lmid, uintptr_t* cookie)
{
  *cookie = (uintptr_t)map;
  return 0;
}

char* la_objsearch(const char* name, uintptr_t* cookie, unsigned int flag)
{
  const struct link_map* asking = (const struct link_map*)*cookie;
  const int fromDnsSd = asking && asking->l_name && strstr(asking->l_name, "libdns_sd.so.1");
  return flag == LA_SER_ORIG && strcmp(name, "libavahi-client.so.3") == 0 && !fromDnsSd ? NULL : (char*)name;
}
