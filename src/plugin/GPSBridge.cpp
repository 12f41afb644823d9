#include "plugin/GPSBridge.h"

#include <unistd.h>

#include <cstring>

GPSBridge::GPSBridge() {}

GPSBridge::~GPSBridge()
{
  static const char message[] = "\nWARNING : Destroying bridge\n";
  ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
  (void)written;
}

void GPSBridge::stop() {}
