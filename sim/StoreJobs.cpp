// The handler's jobs: the controller's program for relays 1900..1909, one
// recipe of steps per relay, each step started and finished on the store's
// clock (Store.cpp's Complete walks from one step's end to the next).
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>

#include "sim/Store.h"
#include "sim/StoreFigures.h"

namespace sim {

// What each handler relay's job does, step by step, as the controller's
// program runs it. PlateReady comes on when the handover step ends. A job
// through the transfer station (1904..1907) needs a profile that has one, a
// job at a slot (1904, 1905, 1908, 1909) needs DM0/DM5 to name one; either
// failing is a bad address.
struct Store::Recipe {
  int relay;
  std::initializer_list<Step> steps;
  int handover;  // index into steps, or -1
  bool station;
  bool slot;
};

const Store::Recipe Store::kRecipes[] = {
    {1900, {Step::Homing}, -1, false, false},
    {1901, {Step::GateOpen, Step::Settle}, -1, false, false},
    {1902, {Step::GateClose, Step::Settle}, -1, false, false},
    {1903, {Step::GateClose, Step::LiftHome, Step::Settle}, -1, false, false},
    // load the slot from the transfer station
    {1904,
     {Step::CarrouselGo, Step::GateOpen, Step::LiftStation, Step::TakeStation, Step::GateClose, Step::WaitCarrousel,
      Step::LiftSlot, Step::PutSlot, Step::Settle},
     3, true, true},
    // unload the slot to the transfer station
    {1905,
     {Step::CarrouselGo, Step::WaitCarrousel, Step::LiftSlot, Step::TakeSlot, Step::LiftStation, Step::GateOpen,
      Step::PutStation, Step::GateClose, Step::Settle},
     6, true, true},
    // the plate on the shovel onto the transfer station
    {1906, {Step::LiftStation, Step::GateOpen, Step::PutStation, Step::GateClose, Step::Settle}, 2, true, false},
    // the plate at the transfer station onto the shovel
    {1907, {Step::LiftStation, Step::GateOpen, Step::TakeStation, Step::GateClose, Step::Settle}, 2, true, false},
    // pick from the slot onto the shovel
    {1908, {Step::CarrouselGo, Step::WaitCarrousel, Step::LiftSlot, Step::TakeSlot, Step::Settle}, 3, false, true},
    // place from the shovel into the slot
    {1909, {Step::CarrouselGo, Step::WaitCarrousel, Step::LiftSlot, Step::PutSlot, Step::Settle}, 3, false, true},
};

void Store::StartJob(int relay) {
  job_ = Job{};
  job_.active = true;
  job_.relay = relay;
  if (relay >= 1904) {
    job_.record = static_cast<int>(accesses_.size());
    accesses_.push_back({++accessNumber_, static_cast<uint16_t>(relay), dm_[0], 0, 0,
                         WireTime(pendingSince_[relay - 1900]), 0, 0, AccessResult::Running});
  }
  // Dispatch starts no relay but these ten, each of which has its recipe.
  const Recipe* recipe = std::find_if(std::begin(kRecipes), std::end(kRecipes),
                                      [relay](const Recipe& r) { return r.relay == relay; });
  if (recipe == std::end(kRecipes)) return EndJob(AccessResult::Aborted);
  for (Step s : recipe->steps) {
    if (job_.count < static_cast<int>(std::size(job_.steps))) job_.steps[job_.count++] = s;
  }
  job_.handover = recipe->handover;
  if (recipe->station && !profile_.transferStation) return Fail(AccessResult::BadAddress);
  if (recipe->slot) {
    int c = 0, l = 0;
    const bool ok = DecodeSlot(dm_[0], dm_[5], c, l);
    if (job_.record >= 0) {
      accesses_[job_.record].cassette = ok ? c : 0;
      accesses_[job_.record].level = ok ? l : 0;
    }
    if (!ok) return Fail(AccessResult::BadAddress);
    job_.cassette = c;
    job_.level = l;
  }
  BeginStep();
  RunJob();
}

void Store::RunJob() {
  for (int guard = 0; guard < 64 && job_.active && job_.stepEnd <= now_; ++guard) {
    if (!FinishStep()) continue;  // still waiting; stepEnd moved on
    if (!job_.active) break;
    if (job_.index == job_.handover) {
      plateReady_ = true;
      if (job_.record >= 0) accesses_[job_.record].plateReadyUs = WireTime(now_);
    }
    if (++job_.index >= job_.count) {
      EndJob(AccessResult::Ok);
      break;
    }
    BeginStep();
  }
}

void Store::BeginStep() {
  const Step s = job_.steps[job_.index];
  job_.stepStart = now_;
  uint64_t end = now_;
  auto slot = [this]() -> uint16_t& { return SlotRef(job_.cassette, job_.level); };
  switch (s) {
    case Step::CarrouselGo:
      carRequest_ = 0;  // the job takes the carousel
      if (!CarBusy()) StartCarrousel(job_.cassette);
      break;
    case Step::WaitCarrousel:
      end = CarBusy() ? CarFreeAt() : now_;
      break;
    case Step::LiftSlot:
      liftOvertravel_ = false;
      end = MoveAxis(lift_, SlotHeight(job_.cassette, job_.level), kLiftSpeed);
      break;
    case Step::LiftStation:
      liftOvertravel_ = false;
      end = MoveAxis(lift_, kStationHeight, kLiftSpeed);
      break;
    case Step::LiftHome:
      liftOvertravel_ = false;
      end = MoveAxis(lift_, profile_.liftBase, kLiftSpeed);
      break;
    case Step::GateOpen:
      if (!gate_.open) {
        gate_.moving = true;
        gate_.opening = true;
        end = now_ + Jitter(kGateMove);
        // Room air comes in: the climate dips and recovers.
        const double since = static_cast<double>(now_ - std::min(now_, disturbedAt_)) / 1e6;
        disturbance_ = disturbance_ * std::exp(-since / 240.0) + 1.0;
        disturbedAt_ = now_;
      }
      break;
    case Step::GateClose:
      if (gate_.open) {
        gate_.moving = true;
        gate_.opening = false;
        end = now_ + Jitter(kGateMove);
      }
      break;
    // The handler's sensors look before the shovel reaches in.
    case Step::TakeSlot:
      if (slot() == 0) return Fail(AccessResult::SlotEmpty);
      if (shovel_ != 0) return Fail(AccessResult::ShovelFull);
      end = now_ + Jitter(kTransfer);
      break;
    case Step::PutSlot:
      if (shovel_ == 0) return Fail(AccessResult::ShovelEmpty);
      if (slot() != 0) return Fail(AccessResult::SlotFull);
      end = now_ + Jitter(kTransfer);
      break;
    case Step::TakeStation:
      if (station_ == 0) return Fail(AccessResult::StationEmpty);
      if (shovel_ != 0) return Fail(AccessResult::ShovelFull);
      end = now_ + Jitter(kTransfer);
      break;
    case Step::PutStation:
      if (shovel_ == 0) return Fail(AccessResult::ShovelEmpty);
      if (station_ != 0) return Fail(AccessResult::StationFull);
      end = now_ + Jitter(kTransfer);
      break;
    case Step::Settle:
      end = now_ + Jitter(kSettle);
      break;
    case Step::Homing:
      for (int r = 1901; r <= 1909; ++r) SetBit(r, false);
      carRequest_ = 0;
      liftRequest_ = -1;
      smcCommand_ = -1;
      plateReady_ = false;
      end = now_ + kHoming;
      break;
  }
  job_.stepEnd = end;
}

// Ends the current step; false while it still waits for something.
bool Store::FinishStep() {
  const Step s = job_.steps[job_.index];
  uint16_t& slot = SlotRef(job_.cassette, job_.level);
  switch (s) {
    case Step::WaitCarrousel:
      if (CarBusy()) {
        job_.stepEnd = CarFreeAt();
        return false;
      }
      if (car_.pos != job_.cassette) {  // it was on its way elsewhere
        StartCarrousel(job_.cassette);
        job_.stepEnd = CarFreeAt();
        return false;
      }
      break;
    case Step::GateOpen:
      if (gate_.moving) gate_.open = true;
      gate_.moving = false;
      break;
    case Step::GateClose:
      if (gate_.moving) {
        gate_.open = false;
        ++counts_.gateCycles;
      }
      gate_.moving = false;
      break;
    case Step::TakeSlot:
      shovel_ = slot;
      slot = 0;
      dm_[121] = shovel_;  // the barcode reader reads the plate as it passes
      break;
    case Step::PutSlot:
      slot = shovel_;
      shovel_ = 0;
      break;
    case Step::TakeStation:
      shovel_ = station_;
      station_ = 0;
      break;
    case Step::PutStation:
      station_ = shovel_;
      shovel_ = 0;
      break;
    case Step::Homing:
      Homing();
      break;
    default:
      break;
  }
  return true;
}

void Store::Homing() {
  error_ = AccessResult::Ok;
  plateReady_ = false;
  liftEndSwitch_ = smcEndSwitch_ = false;
  liftOvertravel_ = smcOvertravel_ = false;
  gate_ = Gate{};
  lift_ = Axis{};
  lift_.pos = profile_.liftBase;
  ++counts_.resets;
}

// A wrong access stops the store where it stands: ErrorFlag, the error code in
// DM200 and one more on the error's counter, until a system reset.
void Store::Fail(AccessResult why) {
  error_ = why;
  CountError(ErrorCounter(why));
  ++counts_.errors;
  gate_.moving = false;
  EndJob(why);
}

void Store::EndJob(AccessResult result) {
  if (job_.record >= 0) {
    AccessRecord& rec = accesses_[job_.record];
    rec.result = result;
    if (result == AccessResult::Ok) {
      rec.readyUs = WireTime(now_);
      ++counts_.accesses;
      if (job_.relay == 1904 || job_.relay == 1909) {
        ++counts_.loads;
      } else {
        ++counts_.unloads;
      }
    }
  }
  SetBit(job_.relay, false);
  pendingSince_[job_.relay - 1900] = 0;
  job_.active = false;
}

}  // namespace sim
