// The store's mechanics and its controller program.
//
// Everything that moves is an activity with a known end time: a carousel
// move, the T20 settle after it, a lift or SMC 1 travel, one step of a
// handler job. AdvanceTo walks from one end time to the next, finishing what
// ends there and starting what was waiting, so the state between two events
// never changes and a whole hour of store time costs only its events.
// The data words and relays that reflect the store's state are rewritten by
// Scan() before every read, as the controller's program rewrites them every
// scan: a host that writes them sees its value replaced at once.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "sim/Store.h"
#include "sim/StoreFigures.h"

namespace sim {
namespace {

bool IsTransfer(uint8_t step, uint8_t first, uint8_t last) { return step >= first && step <= last; }

uint16_t Clamp16(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535)); }

}  // namespace

const char* AccessResultName(AccessResult r) {
  switch (r) {
    case AccessResult::Ok: return "ok";
    case AccessResult::SlotEmpty: return "slot-empty";
    case AccessResult::SlotFull: return "slot-full";
    case AccessResult::ShovelEmpty: return "shovel-empty";
    case AccessResult::ShovelFull: return "shovel-full";
    case AccessResult::StationEmpty: return "station-empty";
    case AccessResult::StationFull: return "station-full";
    case AccessResult::BadAddress: return "bad-address";
    case AccessResult::Aborted: return "aborted";
    case AccessResult::Running: return "running";
  }
  return "?";
}

const char* PlateLayoutName(PlateLayout p) {
  switch (p) {
    case PlateLayout::Empty: return "empty";
    case PlateLayout::One: return "one";
    case PlateLayout::Three: return "three";
    case PlateLayout::Full: return "full";
  }
  return "?";
}

bool ParsePlateLayout(std::string_view name, PlateLayout& p) {
  for (PlateLayout x : {PlateLayout::Empty, PlateLayout::One, PlateLayout::Three, PlateLayout::Full}) {
    if (name == PlateLayoutName(x)) {
      p = x;
      return true;
    }
  }
  return false;
}

int32_t Store::Axis::At(uint64_t t) const {
  if (!moving) return pos;
  if (t >= end) return to;
  if (t <= start || end == start) return from;
  const double f = static_cast<double>(t - start) / static_cast<double>(end - start);
  return from + static_cast<int32_t>(std::lround((to - from) * f));
}

Store::Store(const Profile& profile, const Options& options)
    : profile_(profile), options_(options), rng_(options.seed * 0x9E3779B97F4A7C15ull + 1) {
  speed_ = options.speed > 0 ? std::clamp(options.speed, 0.01, 1000.0) : 1.0;
  profile_.positions = std::clamp<uint16_t>(profile_.positions, 1, kMaxCassettes);
  dm_[20] = profile_.liftBase;
  dm_[22] = profile_.liftTravel;
  dm_[23] = profile_.levelPitch;
  dm_[25] = profile_.levels;
  dm_[29] = profile_.positions;
  dm_[46] = profile_.firstGroup;
  dm_[47] = profile_.groupOffset;
  dm_[92] = 350;  // drive ramps, as the carousel's commissioning left them
  dm_[93] = 420;
  dm_[108] = profile_.firmware;
  dm_[109] = profile_.serial;
  if (profile_.firmware >= 7104) {
    for (int c = 1; c <= profile_.positions; ++c) dm_[250 + c] = static_cast<uint16_t>(LevelsOf(c));
  }
  SetBit(1801, true);  // the store comes up activated from its own panel
  lift_.pos = profile_.liftBase;
  SetPlates(options.plates);
}

// --- clock ---------------------------------------------------------------------

uint64_t Store::StoreTime(uint64_t wireUs) const {
  if (wireUs <= wireAnchor_) return storeAnchor_;
  if (speed_ == 1.0) return storeAnchor_ + (wireUs - wireAnchor_);
  return storeAnchor_ + static_cast<uint64_t>(static_cast<long double>(wireUs - wireAnchor_) * speed_);
}

uint64_t Store::WireTime(uint64_t storeUs) const {
  if (storeUs <= storeAnchor_) return wireAnchor_;
  if (speed_ == 1.0) return wireAnchor_ + (storeUs - storeAnchor_);
  return wireAnchor_ +
         static_cast<uint64_t>(std::ceil(static_cast<long double>(storeUs - storeAnchor_) / speed_));
}

void Store::SetSpeed(double speed) {
  storeAnchor_ = now_;
  wireAnchor_ = wireNow_;
  speed_ = std::clamp(speed, 0.01, 1000.0);
}

uint32_t Store::Random() {
  rng_ ^= rng_ >> 12;
  rng_ ^= rng_ << 25;
  rng_ ^= rng_ >> 27;
  return static_cast<uint32_t>((rng_ * 0x2545F4914F6CDD1Dull) >> 32);
}

// Real drives never take quite the same time twice: +-4 %.
uint64_t Store::Jitter(uint64_t us) {
  const int64_t perMille = static_cast<int64_t>(Random() % 81) - 40;
  return static_cast<uint64_t>(static_cast<int64_t>(us) + static_cast<int64_t>(us) * perMille / 1000);
}

uint64_t Store::kT20Us() { return kT20; }

uint64_t Store::NextEventStore() const {
  uint64_t next = kNever;
  auto consider = [&next](bool active, uint64_t t) {
    if (active && t < next) next = t;
  };
  consider(car_.moving, car_.end);
  consider(car_.settling, car_.settleEnd);
  consider(lift_.moving, lift_.end);
  consider(smc_.moving, smc_.end);
  consider(smcParamBusy_, smcParamEnd_);
  consider(shovelTest_.moving, shovelTest_.end);
  consider(turnTest_.moving, turnTest_.end);
  consider(job_.active, job_.stepEnd);
  return next;
}

uint64_t Store::NextEventUs() const {
  const uint64_t e = NextEventStore();
  if (e == kNever) return kNever;
  if (e <= now_) return wireNow_;
  return WireTime(e);
}

void Store::AdvanceTo(uint64_t tUs) {
  if (tUs < wireNow_) return;
  wireNow_ = tUs;
  const uint64_t target = StoreTime(tUs);
  // Every event ends an activity or moves a waiting step on; the guard only
  // protects against a bug turning into a hang of the whole simulator.
  for (int guard = 0; guard < 1000000; ++guard) {
    const uint64_t next = NextEventStore();
    if (next > target) break;
    if (next > now_) {
      Integrate(next);
      now_ = next;
    }
    Complete();
  }
  if (target > now_) {
    Integrate(target);
    now_ = target;
  }
}

void Store::Integrate(uint64_t to) {
  if (to > now_ && DrivesOn()) busyUs_ += to - now_;
}

// Finishes every activity that has ended by now_, then lets the controller
// start whatever was waiting for it.
void Store::Complete() {
  if (car_.moving && car_.end <= now_) {
    car_.moving = false;
    car_.pos = (car_.from - 1 + car_.steps) % profile_.positions + 1;
    car_.settling = true;
    car_.settledFrom = now_;
    car_.settleEnd = now_ + kT20;
  }
  if (car_.settling && car_.settleEnd <= now_) car_.settling = false;
  if (lift_.moving && lift_.end <= now_) {
    lift_.pos = lift_.to;
    lift_.moving = false;
    if (liftOvertravel_) {
      liftOvertravel_ = false;
      liftEndSwitch_ = true;
      CountError(kErrLiftEnd);
    }
  }
  if (smc_.moving && smc_.end <= now_) {
    smc_.pos = smc_.to;
    smc_.moving = false;
    if (smcOvertravel_) {
      smcOvertravel_ = false;
      smcEndSwitch_ = true;
      CountError(kErrSmcEnd);
    }
  }
  if (smcParamBusy_ && smcParamEnd_ <= now_) {
    smcParamBusy_ = false;
    // DM300 names the parameter, DM301 carries its value: point 0 and point 1
    // of the drive, which DM50 = 96 and 97 then travel to.
    if (smcCode_ == 35840) smcPoint_[0] = smcValue_;
    if (smcCode_ == 36352) smcPoint_[1] = smcValue_;
  }
  for (Toggle* t : {&shovelTest_, &turnTest_}) {
    if (t->moving && t->end <= now_) {
      t->moving = false;
      t->out = !t->out;
      t->since = now_;
    }
  }
  RunJob();
  Dispatch();
}

// --- memory --------------------------------------------------------------------

bool Store::Bit(int relay) const {
  if (relay < 0 || relay / 100 >= kRelayChannels || relay % 100 > 15) return false;
  return (relays_[relay / 100] >> (relay % 100)) & 1;
}

void Store::SetBit(int relay, bool on) {
  if (relay < 0 || relay / 100 >= kRelayChannels || relay % 100 > 15) return;
  const uint16_t mask = static_cast<uint16_t>(1u << (relay % 100));
  if (on) {
    relays_[relay / 100] |= mask;
  } else {
    relays_[relay / 100] &= static_cast<uint16_t>(~mask);
  }
}

void Store::WriteDm(int address, uint16_t value) {
  dm_[address] = value;
  switch (address) {
    case 0: {
      // A position (or, negative, a cassette of the look-up table) turns the
      // carousel there; 0 and positions the store does not have turn nothing.
      const int p = DecodePosition(value);
      if (p != 0 && Activated()) carRequest_ = p;
      break;
    }
    case 6:
      liftRequest_ = value;
      break;
    case 50:
      if (value == 96 || value == 97 || value == 300) smcCommand_ = value;
      break;
    default:
      break;
  }
}

void Store::SetRelay(int relay, bool on) {
  if (relay >= 1900 && relay <= 1909) {
    // Command relays: set by the host, taken by the program when it can, and
    // reset by the program when the job is done.
    if (on) {
      if (relay >= 1904 && !Activated()) return;  // no access without activation
      if (!Bit(relay)) pendingSince_[relay - 1900] = now_;
      SetBit(relay, true);
      plateReady_ = false;
    } else if (!(job_.active && job_.relay == relay)) {
      SetBit(relay, false);  // a command not yet taken can be withdrawn
    }
    return;
  }
  SetBit(relay, on);
  if (relay == 1801 && !on) carRequest_ = 0;
}

uint16_t Store::Dm(int address) {
  if (address < 0 || address >= kDmWords) return 0;
  Scan();
  return dm_[address];
}

bool Store::Relay(int number) {
  Scan();
  return Bit(number);
}

bool Store::Ready() { return ReadyNow(); }

int Store::CarrouselShown(bool& atMark) const {
  atMark = !car_.moving;
  if (!car_.moving || car_.steps == 0) return car_.pos;
  const double progress = static_cast<double>(now_ - car_.start) / static_cast<double>(car_.end - car_.start) *
                          car_.steps;
  const int passed = std::clamp(static_cast<int>(progress), 0, car_.steps);
  atMark = progress - passed < 0.25;
  return (car_.from - 1 + passed) % profile_.positions + 1;
}

// Rewrites the words and relays that mirror the store's state.
void Store::Scan() {
  bool atMark = false;
  const int shown = CarrouselShown(atMark);
  dm_[1] = static_cast<uint16_t>(shown);
  dm_[2] = Clamp16(lift_.At(now_));
  dm_[91] = car_.moving ? kCarSetSpeed : 0;

  // A lifetime counter in two words, low word first, kept as the store's
  // controller keeps it and the console reads it back: the high word counts
  // units of 65535, so the low word runs 0..65534. At the top (65535 x 65535
  // + 65534) the counter stops.
  auto putTwoWords = [this](int address, uint64_t v) {
    v = std::min<uint64_t>(v, kTwoWordMax);
    dm_[address] = static_cast<uint16_t>(v % kTwoWordUnit);
    dm_[address + 1] = static_cast<uint16_t>(v / kTwoWordUnit);
  };
  const uint64_t totalSeconds = uint64_t{profile_.hours} * 3600 + now_ / 1000000;
  dm_[110] = Clamp16(static_cast<int64_t>(totalSeconds / 3600));
  putTwoWords(111, uint64_t{profile_.gateCycles} + counts_.gateCycles);
  putTwoWords(113, uint64_t{profile_.accesses} + counts_.accesses);
  putTwoWords(115, counts_.carrouselMoves);
  putTwoWords(117, uint64_t{profile_.onSeconds} + busyUs_ / 1000000);
  putTwoWords(119, totalSeconds);
  dm_[200] = StatusWord();
  ScanClimate();

  SetBit(0, shown == 1 && atMark);  // P0: home position
  SetBit(1, atMark);                // Pn: a position mark
  SetBit(2, !gate_.open && !gate_.moving);
  SetBit(3, gate_.open && !gate_.moving);
  SetBit(4, false);
  SetBit(5, true);  // front door closed
  for (int i = 0; i < 4; ++i) SetBit(6 + i, (profile_.dipSwitches >> i) & 1);
  SetBit(10, shovel_ != 0);
  SetBit(11, smcEndSwitch_);
  // The handler's shovel reaches out in the middle of every plate transfer.
  bool reaching = false;
  if (job_.active && job_.index < job_.count) {
    const Step s = job_.steps[job_.index];
    if (IsTransfer(static_cast<uint8_t>(s), static_cast<uint8_t>(Step::TakeSlot),
                   static_cast<uint8_t>(Step::PutStation)) &&
        job_.stepEnd > job_.stepStart) {
      const double f = static_cast<double>(now_ - job_.stepStart) / static_cast<double>(job_.stepEnd - job_.stepStart);
      reaching = f >= 0.3 && f <= 0.7;
    }
  }
  SetBit(12, reaching || (shovelTest_.out && !shovelTest_.moving));
  SetBit(13, !reaching && !shovelTest_.out && !shovelTest_.moving);
  SetBit(14, turnTest_.out && !turnTest_.moving);
  SetBit(15, liftEndSwitch_);
  SetBit(500, Activated());
  SetBit(501, gate_.moving);
  SetBit(502, car_.moving);
  SetBit(503, gate_.moving && gate_.opening);
  SetBit(504, car_.moving);
  SetBit(505, Bit(1810));
  SetBit(1100, job_.active && job_.relay >= 1904);
  SetBit(1104, true);
  SetBit(1703, profile_.directPath);
  SetBit(3012, profile_.twoCarrousels);
  SetBit(1812, shovel_ != 0);
  SetBit(1813, station_ != 0);
  SetBit(1814, error_ != AccessResult::Ok);
  SetBit(1815, plateReady_);
  SetBit(1915, ReadyNow());
  SetBit(6901, turnTest_.moving);
  if (job_.active) SetBit(job_.relay, true);
}

// DM200, bit by bit:
//   0 carousel moving or settling    8..11 error code (1..7 = DM211..DM217)
//   1 handler job running            12 carousel not activated (1801 off)
//   2 lift moving                    13 lift end switch tripped
//   3 gate open or moving            14 SMC 1 end switch tripped
//   4 plate on the shovel            15 stopped by an error: reset with 1900
//   5 plate at the transfer station
//   6 component test enabled (DM123)
//   7 system reset running
uint16_t Store::StatusWord() const {
  uint16_t s = 0;
  if (CarBusy()) s |= 0x0001;
  if (job_.active) s |= 0x0002;
  if (lift_.moving) s |= 0x0004;
  if (gate_.open || gate_.moving) s |= 0x0008;
  if (shovel_) s |= 0x0010;
  if (station_) s |= 0x0020;
  if (dm_[123] == kComponentTestKey) s |= 0x0040;
  if (job_.active && job_.relay == 1900) s |= 0x0080;
  if (error_ != AccessResult::Ok) s |= static_cast<uint16_t>(0x8000 | (ErrorCounter(error_) << 8));
  if (!Activated()) s |= 0x1000;
  if (liftEndSwitch_) s |= 0x2000;
  if (smcEndSwitch_) s |= 0x4000;
  return s;
}

// An incubator's climate: slow swings of its control loops around the set
// points, and a dip towards the room's air each time the gate opens, which
// the control then pulls back over a few minutes.
void Store::ScanClimate() {
  constexpr double kTau = 240.0;  // seconds
  constexpr double kPi = 3.14159265358979323846;
  const double t = static_cast<double>(now_) / 1e6;
  const double since = static_cast<double>(now_ - std::min(now_, disturbedAt_)) / 1e6;
  const double mix = std::min(0.6, 0.05 * disturbance_ * std::exp(-since / kTau));

  const double tSet = profile_.temperature / 10.0;
  const double temp = tSet + 0.15 * std::sin(2 * kPi * t / 1800) + 0.05 * std::sin(2 * kPi * t / 97 + 1) +
                      (22.0 - tSet) * mix;
  const double hSet = profile_.humidity / 10.0;
  const double hum = std::clamp(hSet + 0.8 * std::sin(2 * kPi * t / 2400 + 2) + (45.0 - hSet) * mix, 0.0, 100.0);
  const double cSet = profile_.co2 > 0 ? profile_.co2 / 100.0 : 0.04;  // no CO2 control: room air
  const double co2 = std::max(0.0, cSet + (profile_.co2 > 0 ? 0.04 * std::sin(2 * kPi * t / 1500 + 3) : 0.0) +
                                       (0.04 - cSet) * mix);

  const long tenths = std::lround(temp * 10);
  dm_[982] = tenths < 0 ? static_cast<uint16_t>(0x8000 | std::min(-tenths, 0x7FFFL))
                        : static_cast<uint16_t>(std::min(tenths, 0x7FFFL));
  dm_[983] = Clamp16(std::lround(hum * 10));
  dm_[984] = Clamp16(std::lround(co2 * 100));
  dm_[985] = profile_.opt;
}

// --- plates ----------------------------------------------------------------------

int Store::LevelsOf(int cassette) const {
  if (cassette < 1 || cassette > profile_.positions) return 0;
  const int own = profile_.cassetteLevels[cassette - 1];
  return std::min(own > 0 ? own : static_cast<int>(profile_.levels), kMaxLevels);
}

uint16_t& Store::SlotRef(int cassette, int level) { return slots_[cassette][level]; }

uint16_t Store::Plate(int cassette, int level) const {
  if (cassette < 1 || cassette > kMaxCassettes || level < 1 || level > kMaxLevels) return 0;
  return slots_[cassette][level];
}

void Store::SetPlate(int cassette, int level, bool present) {
  if (cassette < 1 || cassette > kMaxCassettes || level < 1 || level > kMaxLevels) return;
  uint16_t& slot = slots_[cassette][level];
  if (!present) {
    slot = 0;
  } else if (slot == 0) {
    slot = nextPlate_++;
  }
}

void Store::SetPlates(PlateLayout layout) {
  for (auto& cassette : slots_) {
    for (auto& slot : cassette) slot = 0;
  }
  shovel_ = station_ = 0;
  nextPlate_ = 1;
  switch (layout) {
    case PlateLayout::Empty: break;
    case PlateLayout::One: SetPlate(1, 1, true); break;
    case PlateLayout::Three:
      for (int l = 1; l <= 3; ++l) SetPlate(1, l, true);
      break;
    case PlateLayout::Full:
      for (int c = 1; c <= profile_.positions; ++c) {
        for (int l = 1; l <= LevelsOf(c); ++l) SetPlate(c, l, true);
      }
      break;
  }
}

// --- mechanics -------------------------------------------------------------------

int Store::DecodePosition(uint16_t dm0) const {
  int p = 0;
  if (dm0 >= 0x8000) {
    if (profile_.firmware < 7014) return 0;  // no look-up table in this firmware
    p = 65536 - dm0;
  } else {
    p = dm0;
  }
  return p >= 1 && p <= profile_.positions ? p : 0;
}

bool Store::DecodeSlot(uint16_t dm0, uint16_t dm5, int& cassette, int& level) const {
  cassette = dm0 == 0 ? car_.pos : DecodePosition(dm0);
  level = dm5;
  if (cassette == 0) return false;
  int limit = LevelsOf(cassette);
  // Native addressing takes the level count from DM25, which the host may
  // set per cassette; the look-up table knows each cassette's own.
  if (dm0 < 0x8000) limit = std::min<int>(limit, dm_[25]);
  return level >= 1 && level <= limit;
}

int32_t Store::SlotHeight(int cassette, int level) const {
  int32_t h = profile_.liftBase + profile_.levelPitch * (level - 1);
  if (cassette > profile_.firstGroup) h += profile_.groupOffset;
  return h;
}

void Store::StartCarrousel(int target) {
  if (car_.moving || target == car_.pos) return;
  const int n = profile_.positions;
  car_.from = car_.pos;
  car_.steps = (target - car_.pos + n) % n;  // the carousel turns one way only
  car_.start = now_;
  car_.end = now_ + Jitter(kCarRamp) + car_.steps * uint64_t{profile_.carrouselStepMs} * kMs;
  car_.moving = true;
  car_.settling = false;
  ++counts_.carrouselMoves;
}

uint64_t Store::MoveAxis(Axis& axis, int32_t target, uint64_t unitsPerSecond) {
  const int32_t here = axis.At(now_);
  if (!axis.moving && here == target) return now_;
  axis.from = here;
  axis.pos = here;
  axis.to = target;
  axis.start = now_;
  const uint64_t distance = static_cast<uint64_t>(std::abs(target - here));
  axis.end = now_ + Jitter(kAxisRamp + distance * 1000000 / unitsPerSecond);
  axis.moving = true;
  return axis.end;
}

// A lift target past the top of the travel stops at the end switch, which
// stays tripped (relay 15) until a system reset.
void Store::MoveLiftTo(int32_t target) {
  liftOvertravel_ = target > profile_.liftTravel;
  MoveAxis(lift_, std::min<int32_t>(target, profile_.liftTravel), kLiftSpeed);
}

void Store::MoveSmcTo(int32_t target) {
  smcOvertravel_ = target > kSmcTravel;
  MoveAxis(smc_, std::min(target, kSmcTravel), kSmcSpeed);
}

bool Store::DrivesOn() const {
  return job_.active || car_.moving || lift_.moving || smc_.moving || gate_.moving || shovelTest_.moving ||
         turnTest_.moving;
}

bool Store::Idle() const {
  for (int r = 1900; r <= 1909; ++r) {
    if (Bit(r)) return false;
  }
  return !job_.active && !CarBusy() && carRequest_ == 0 && !lift_.moving && liftRequest_ < 0 && !smc_.moving &&
         !smcParamBusy_ && smcCommand_ < 0 && !shovelTest_.moving && !turnTest_.moving;
}

bool Store::ReadyNow() const {
  return fault_ != Fault::NeverReady && error_ == AccessResult::Ok && Idle();
}

void Store::CountError(int counter) {
  uint16_t& w = dm_[210 + counter];
  if (w < 65535) ++w;
}

// The controller's program: starts what the host asked for once the store
// can do it.
void Store::Dispatch() {
  if (fault_ == Fault::NeverReady) return;  // the store hangs: nothing new starts

  // Shovel and turn follow their relays, but only in the component test.
  const bool testing = dm_[123] == kComponentTestKey;
  auto drive = [this](Toggle& t, bool want, uint64_t duration) {
    if (!t.moving && t.out != want) {
      t.moving = true;
      t.end = now_ + Jitter(duration);
    }
  };
  drive(shovelTest_, testing && Bit(ShovelRelay()), kShovelMove);
  drive(turnTest_, testing && Bit(TurnRelay()), kTurnMove);

  // A system reset cuts short whatever runs and clears a standing error.
  if (Bit(1900) && !(job_.active && job_.relay == 1900)) {
    if (job_.active) EndJob(AccessResult::Aborted);
    StartJob(1900);
    return;
  }
  if (job_.active || error_ != AccessResult::Ok) return;
  for (int r = 1901; r <= 1909; ++r) {
    if (Bit(r)) {
      StartJob(r);
      return;
    }
  }
  if (carRequest_ != 0 && !CarBusy()) {
    const int p = carRequest_;
    carRequest_ = 0;
    if (Activated()) StartCarrousel(p);
  }
  if (liftRequest_ >= 0 && !lift_.moving) {
    MoveLiftTo(liftRequest_);
    liftRequest_ = -1;
  }
  if (smcCommand_ >= 0 && !smc_.moving && !smcParamBusy_) {
    if (smcCommand_ == 300) {
      if (dm_[51] == 2) {  // parameter block 2: the travel points
        smcParamBusy_ = true;
        smcParamEnd_ = now_ + Jitter(kSmcParameter);
        smcCode_ = dm_[300];
        smcValue_ = dm_[301];
      }
    } else {
      MoveSmcTo(smcPoint_[smcCommand_ == 97 ? 1 : 0]);
    }
    smcCommand_ = -1;
  }
}

}  // namespace sim
