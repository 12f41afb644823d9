// The one bridge object of the plug-in. For now it only stands in for the service that
// will serve the app: it can be created, stopped and destroyed through its retain count.
// Created, stopped and released on the host's main thread.
#pragma once

#include "object/BaseObject.h"

class GPSBridge : public BaseObject
{
public:
  GPSBridge();
  ~GPSBridge() override;

  // Takes the service down and leaves the object ready to be released.
  void stop();
};
