// Samples the aircraft's position from the host: the ten flight-model data references of
// the position record, read in the record's order, and the record itself, a dictionary of
// ten double numbers. The host's interface may only be called on its main thread, so
// sampling runs there (once per frame while started, through a flight-loop callback, which
// also writes the lines waiting for the host's log) and other threads take the latest
// frame's ten values, kept together under one lock.
#pragma once

#include "object/BaseObject.h"
#include "plugin/xplm/XPLM.h"
#include "runtime/BaseMutex.h"

class BaseDictionary;
class BaseNumber;

// One frame's ten values, in the record's order.
struct PositionSample
{
  enum { FIELDS = 10 };
  double values[FIELDS];
  bool valid;  // false until a first frame has been sampled
};

class PositionSampler : public BaseObject
{
public:
  PositionSampler();
  // Stops sampling first.
  ~PositionSampler() override;

  // Main thread: looks the ten data references up (once) and samples on every frame.
  void startSampling() EXCLUDES(m_latestLock);
  // Main thread: no more frames are sampled; the last sample stays available.
  void stopSampling();
  bool isSampling() const { return m_sampling; }

  // Main thread: looks the references up if needed and reads them now.
  PositionSample sampleNow();
  // Main thread, once per frame while sampling: the frame's values for the other threads,
  // and the lines waiting for the host's log.
  void sampleFrame() EXCLUDES(m_latestLock);
  // Any thread: the latest frame's values (valid is false before the first frame).
  PositionSample latestSample() EXCLUDES(m_latestLock);

  // The record for one sample: a new dictionary owned by the caller's innermost pool, its
  // ten double numbers set under their keys in the record's order.
  static BaseDictionary* recordFromSample(const PositionSample& sample);

  // The record's keys and data references, in its order.
  static const char* keyAt(unsigned int field);
  static const char* dataRefAt(unsigned int field);

private:
  void _findDataRefs();
  static float _flightLoop(float sinceLastCall, float sinceLastFlightLoop, int counter, void* refcon);

  XPLMDataRef m_dataRefs[PositionSample::FIELDS];
  bool m_dataRefsFound;
  bool m_sampling;
  BaseMutex m_latestLock;
  PositionSample m_latest GUARDED_BY(m_latestLock);
};

// A record made once and filled again for each sample: the same dictionary, keys and
// numbers every time, so that answering a request makes and frees no objects. Its entries,
// their order and so its bytes in the object stream are those of recordFromSample. One
// thread at a time; whoever fills it must be done sending it before it is filled again.
class PositionRecord
{
public:
  PositionRecord();
  ~PositionRecord();
  PositionRecord(const PositionRecord&) = delete;
  PositionRecord& operator=(const PositionRecord&) = delete;

  // The record holding `sample`'s values, until the next fill.
  BaseDictionary* fill(const PositionSample& sample);

private:
  BaseDictionary* m_record;
  BaseNumber* m_values[PositionSample::FIELDS];  // the record's, in its order
};
