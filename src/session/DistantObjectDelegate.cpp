#include "session/DistantObjectDelegate.h"

const char* DistantObjectDelegate::getClass() const
{
  return "DistantObjectDelegate";
}

void DistantObjectDelegate::handleIncommingObject(BaseObject*, DistantObjectsCenter*) {}

bool DistantObjectDelegate::canHandleConnection(DistantObjectsCenter*)
{
  return true;
}

bool DistantObjectDelegate::acceptsFileObjects(DistantObjectsCenter*)
{
  return true;
}

void DistantObjectDelegate::handleIncommingConnections(DistantObjectsCenter*) {}

void DistantObjectDelegate::transactionDidStart(DistantObjectTransaction*) {}

void DistantObjectDelegate::transactionDidFinish(DistantObjectTransaction*) {}

void DistantObjectDelegate::transactionDidFail(DistantObjectTransaction*, BaseString*) {}

void DistantObjectDelegate::connectionDidTerminate(DistantObjectsCenter*) {}

void DistantObjectDelegate::sendResponse(BaseObject*, BaseString*, BaseString*, DistantObjectsCenter*) {}
