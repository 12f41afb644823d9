#include "plugin/PositionSampler.h"

#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "plugin/HostLog.h"
#include "runtime/Debug.h"

namespace {

struct PositionField
{
  const char* key;
  const char* dataRef;
  bool isDouble;  // read with XPLMGetDatad, otherwise XPLMGetDataf
};

// The record's order: the order of the reads and of the insertions.
const PositionField POSITION_FIELDS[PositionSample::FIELDS] = {
    {"latitude", "sim/flightmodel/position/latitude", true},
    {"longitude", "sim/flightmodel/position/longitude", true},
    {"altitude", "sim/flightmodel/position/elevation", true},
    {"speed", "sim/flightmodel/position/groundspeed", false},
    {"course", "sim/flightmodel/position/hpath", false},
    {"pitch", "sim/flightmodel/position/theta", false},
    {"roll", "sim/flightmodel/position/phi", false},
    {"yaw", "sim/flightmodel/position/psi", false},
    {"slip", "sim/flightmodel/misc/slip", false},
    {"accelerationZ", "sim/flightmodel/position/local_az", false},
};

// Every frame.
const float EVERY_FRAME = -1.0f;

// Sets the record's ten numbers under their keys, in the record's order; `numbers`, when
// given, receives them (the record holds the references).
void insertSample(BaseDictionary* record, const PositionSample& sample, BaseNumber** numbers)
{
  for (unsigned int i = 0; i < PositionSample::FIELDS; i++) {
    BaseNumber* number = new BaseNumber(sample.values[i]);
    record->setObjectForKey(number, POSITION_FIELDS[i].key);
    if (numbers) numbers[i] = number;
    number->release();
  }
}

}  // namespace

PositionSampler::PositionSampler() : m_dataRefsFound(false), m_sampling(false)
{
  for (XPLMDataRef& dataRef : m_dataRefs) dataRef = nullptr;
  m_latest = PositionSample();
}

PositionSampler::~PositionSampler()
{
  stopSampling();
}

const char* PositionSampler::keyAt(unsigned int field)
{
  return field < PositionSample::FIELDS ? POSITION_FIELDS[field].key : nullptr;
}

const char* PositionSampler::dataRefAt(unsigned int field)
{
  return field < PositionSample::FIELDS ? POSITION_FIELDS[field].dataRef : nullptr;
}

void PositionSampler::_findDataRefs()
{
  // The host recommends keeping handles: names are looked up once.
  if (m_dataRefsFound) return;
  for (unsigned int i = 0; i < PositionSample::FIELDS; i++) {
    m_dataRefs[i] = XPLMFindDataRef(POSITION_FIELDS[i].dataRef);
    if (!m_dataRefs[i]) BASE_LOG(this, eMsgWarning, "no data reference '%s'", POSITION_FIELDS[i].dataRef);
  }
  m_dataRefsFound = true;
}

PositionSample PositionSampler::sampleNow()
{
  _findDataRefs();
  PositionSample sample;
  for (unsigned int i = 0; i < PositionSample::FIELDS; i++) {
    // A float widens to double exactly: 0.1f arrives as 0.100000001490116119384765625.
    sample.values[i] = POSITION_FIELDS[i].isDouble ? XPLMGetDatad(m_dataRefs[i])
                                                   : static_cast<double>(XPLMGetDataf(m_dataRefs[i]));
  }
  sample.valid = true;
  return sample;
}

PositionSample PositionSampler::latestSample()
{
  BaseMutexLocker guard(m_latestLock);
  return m_latest;
}

void PositionSampler::startSampling()
{
  if (m_sampling) return;
  _findDataRefs();
  m_sampling = true;
  // The first frame's values are there before the first flight loop.
  PositionSample first = sampleNow();
  {
    BaseMutexLocker guard(m_latestLock);
    m_latest = first;
  }
  XPLMRegisterFlightLoopCallback(_flightLoop, EVERY_FRAME, this);
}

void PositionSampler::stopSampling()
{
  if (!m_sampling) return;
  XPLMUnregisterFlightLoopCallback(_flightLoop, this);
  m_sampling = false;
}

void PositionSampler::sampleFrame()
{
  PositionSample sample = sampleNow();
  {
    BaseMutexLocker guard(m_latestLock);
    m_latest = sample;
  }
  // The one main-thread moment per frame: lines other threads left for the host's log go out.
  HostLog::flush();
}

float PositionSampler::_flightLoop(float, float, int, void* refcon)
{
  static_cast<PositionSampler*>(refcon)->sampleFrame();
  return EVERY_FRAME;
}

BaseDictionary* PositionSampler::recordFromSample(const PositionSample& sample)
{
  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  insertSample(record, sample, nullptr);
  return record;
}

PositionRecord::PositionRecord() : m_record(new BaseDictionary())
{
  insertSample(m_record, PositionSample(), m_values);
}

PositionRecord::~PositionRecord()
{
  m_record->release();
}

BaseDictionary* PositionRecord::fill(const PositionSample& sample)
{
  for (unsigned int i = 0; i < PositionSample::FIELDS; i++) m_values[i]->set(sample.values[i]);
  return m_record;
}
