#include "document/doc_host.h"

namespace {

CDocHost* g_pHost = nullptr;

}  // namespace

CDocHost* TheDocHost()
{
    return g_pHost;
}

void SetDocHost(CDocHost* host)
{
    g_pHost = host;
}
