// The Vekton store and its KV-PLC as one state machine on an explicit clock.
//
// Feed it the console's bytes with the time they arrived: it answers like the
// controller does (pieces of bytes, each with the time it is on the line) and
// acts on the command. Move the clock on and the carousel turns, the lift
// travels, the handler carries plates and the timers run. Nothing in here
// touches the operating system, so the tests run hours of store time on a
// virtual clock and vekton-sim runs the same machine on the real one.
//
// Two clocks meet here. "Wire time" is the caller's clock: bytes arrive and
// answers leave on it. "Store time" is what the mechanics feel: wire time
// times the speed factor, so a store at speed 10 moves ten times faster while
// its answers come as promptly as at speed 1.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Device ranges of the controller (KV host-link numbering).
constexpr int kDmWords = 10000;      // DM0000..DM9999
constexpr int kRelayChannels = 100;  // relays 0..9915: channel * 100 + bit 00..15
constexpr int kTimers = 256;         // T0..T255
constexpr size_t kMaxLine = 255;     // the longest command line the controller takes
constexpr int kMaxCassettes = 40;
constexpr int kMaxLevels = 100;
// DM123 must hold this for the shovel and turn relays to move anything.
constexpr uint16_t kComponentTestKey = 51873;

// What one store is: identity, geometry, climate and its lifetime so far.
struct Profile {
  const char* name;
  const char* summary;
  uint16_t serial;      // DM109
  uint16_t firmware;    // DM108
  uint16_t positions;   // DM29: carousel positions, one cassette each
  uint16_t firstGroup;  // DM46: cassettes of the lower group; the rest sit DM47 higher
  uint16_t levels;      // DM25
  // Levels of each cassette where they differ from `levels` (0 = `levels`);
  // published in DM251.. by firmware 7104 and later.
  uint8_t cassetteLevels[kMaxCassettes];
  uint16_t liftBase;     // DM20: lift value of level 1
  uint16_t liftTravel;   // DM22: top end of the lift's travel
  uint16_t levelPitch;   // DM23
  uint16_t groupOffset;  // DM47
  bool transferStation;
  bool directPath;    // relay 1703
  bool twoCarrousels;  // relay 3012
  uint8_t dipSwitches;  // inputs 6..9 (SW 2E0..2E3)
  int16_t temperature;  // climate set points: tenths of a degree
  uint16_t humidity;    // tenths of a percent
  uint16_t co2;         // hundredths of a percent
  uint16_t opt;         // the fourth climate word, unscaled
  uint32_t hours;       // lifetime at power-on
  uint32_t onSeconds;
  uint32_t gateCycles;
  uint32_t accesses;
  // Time the carousel takes per position passed, on top of the ramp (0.2 s a
  // move, spread over the positions passed). The console's carousel watch
  // (random-access test) reads DM1 about every 0.21 s while a position
  // stands, and counts a position error when position 1 shows without the
  // last position seen before it: a position that shows for less than that
  // may be missed. At 0.2 s a position every position a move passes shows
  // for at least 0.225 s on a store of nine (0.205 s on one of forty), and
  // a move of eight positions still ends, with T20, within the 2 s the
  // component movement test counts.
  uint16_t carrouselStepMs = 200;
};

size_t ProfileCount();
const Profile& ProfileAt(size_t i);
const Profile& DefaultProfile();
const Profile* FindProfile(std::string_view name);

// Faults of the line or the store, switchable at any time.
enum class Fault {
  None,
  Silent,      // the line is dead: nothing is heard, nothing answered
  Slow,        // every answer comes late (default 80 ms)
  Split,       // every answer comes in two pieces (default 60 ms apart)
  Garbage,     // line noise: a few stray bytes before every answer
  Error,       // the controller refuses every command but CR and CQ with "E1"
  NeverReady,  // the store hangs: nothing new starts, Ready stays off
  Vanish,      // the port went away (vekton-sim closes it; in-process: silent)
};
const char* FaultName(Fault f);
bool ParseFault(std::string_view name, Fault& f);

// Plates in the store at power-on.
enum class PlateLayout { Empty, One, Three, Full };
const char* PlateLayoutName(PlateLayout p);
bool ParsePlateLayout(std::string_view name, PlateLayout& p);

struct Options {
  double speed = 1.0;         // mechanics this many times faster than wire time
  uint32_t latencyUs = 2000;  // from a command's CR to the answer's first byte
  uint32_t byteUs = 1146;     // one byte on the line: 11 bits at 9600 baud
  uint32_t seed = 1;          // mechanical jitter, line noise, climate noise
  PlateLayout plates = PlateLayout::One;
};

// Bytes the controller puts on the line; the last of them leaves at atUs
// (wire time).
struct Piece {
  uint64_t atUs;
  std::string bytes;
};

enum class AccessResult {
  Ok,
  SlotEmpty,     // DM211
  SlotFull,      // DM212
  ShovelEmpty,   // DM213
  ShovelFull,    // DM214
  StationEmpty,  // DM215
  StationFull,   // DM216
  BadAddress,    // DM217: no such cassette or level, or no transfer station
  Aborted,       // cut short by a system reset (not counted as an error)
  Running,       // not finished yet
};
const char* AccessResultName(AccessResult r);

// One plate access (relays 1904..1909) as the store performed it.
struct AccessRecord {
  uint32_t number;        // 1, 2, ... in the order the accesses started
  uint16_t relay;
  uint16_t dm0;           // DM0 as it was when the access started
  int cassette;           // 0 when the address was bad or not needed
  int level;
  uint64_t startUs;       // wire time the relay command arrived
  uint64_t plateReadyUs;  // wire time PlateReady came on; 0 = never
  uint64_t readyUs;       // wire time the access ended and Ready returned; 0 = never
  AccessResult result;
};

struct Counts {
  uint32_t commands = 0;      // command lines answered or acted on
  uint32_t accesses = 0;      // accesses that ended well
  uint32_t loads = 0;         // ... of them with relay 1904 or 1909
  uint32_t unloads = 0;       // ... with 1905..1908
  uint32_t errors = 0;        // accesses that raised ErrorFlag
  uint32_t carrouselMoves = 0;
  uint32_t gateCycles = 0;
  uint32_t resets = 0;
};

class Store {
 public:
  explicit Store(const Profile& profile = DefaultProfile(), const Options& options = {});

  // --- the line -----------------------------------------------------------
  // One byte from the console at wire time tUs. When it ends a command line
  // (CR), the line is acted on and the answer's pieces are appended to out
  // (none for an empty line or a dead line); the result is then true.
  bool Receive(uint8_t byte, uint64_t tUs, std::vector<Piece>& out);
  // The raw bytes of the line the last Receive ended (CR left out).
  const std::string& LastLine() const { return lastLine_; }
  // Acts on one command line at tUs and returns the controller's answer
  // without CR LF ("" for an empty line). Bypasses the line faults.
  std::string Execute(std::string_view line, uint64_t tUs);

  void SetFault(Fault f, uint32_t ms = 0);  // ms = 0: the fault's default
  Fault fault() const { return fault_; }
  uint32_t faultMs() const { return faultMs_; }

  // --- the clock ----------------------------------------------------------
  void AdvanceTo(uint64_t tUs);  // wire time; never goes back
  uint64_t NowUs() const { return wireNow_; }
  // Wire time of the next mechanical event (a move ending, a timer running
  // out); UINT64_MAX when the store stands still.
  uint64_t NextEventUs() const;
  void SetSpeed(double speed);  // from the current time on
  double speed() const { return speed_; }

  // --- looking inside (tests, tools) --------------------------------------
  uint16_t Dm(int address);  // as a read would answer; 0 outside the range
  bool Relay(int number);    // as a read would answer; false outside the range
  bool Ready();
  int CarrouselPosition() const { return car_.pos; }
  int32_t LiftPosition() const { return lift_.At(now_); }
  bool GateOpen() const { return gate_.open; }
  // Plates are numbered 1, 2, ... (the barcode DM121 shows); 0 = none.
  uint16_t Plate(int cassette, int level) const;
  uint16_t ShovelPlate() const { return shovel_; }
  uint16_t StationPlate() const { return station_; }
  void SetPlate(int cassette, int level, bool present);
  void SetPlates(PlateLayout layout);
  int LevelsOf(int cassette) const;  // physical levels of a cassette
  const Profile& profile() const { return profile_; }
  const std::vector<AccessRecord>& Accesses() const { return accesses_; }
  void ClearAccesses() { accesses_.clear(); }
  const Counts& counts() const { return counts_; }

 private:
  // Store-time helpers.
  struct Axis {  // a drive moving linearly from one value to another
    int32_t pos = 0, from = 0, to = 0;
    uint64_t start = 0, end = 0;
    bool moving = false;
    int32_t At(uint64_t t) const;
  };
  struct Carrousel {
    int pos = 1;  // position at the access point; while moving, the last one passed
    int from = 1, steps = 0;
    uint64_t start = 0, end = 0;
    bool moving = false;
    bool settling = false;  // stopped; T20 runs until settleEnd
    uint64_t settledFrom = 0, settleEnd = 0;
  };
  struct Gate {
    bool open = false, moving = false, opening = false;
  };
  struct Toggle {  // shovel and turn of the component tests
    bool out = false, moving = false;
    uint64_t end = 0, since = 0;
  };
  enum class Step : uint8_t {
    CarrouselGo, WaitCarrousel, LiftSlot, LiftStation, LiftHome, GateOpen, GateClose,
    TakeSlot, PutSlot, TakeStation, PutStation, Settle, Homing,
  };
  struct Job {
    bool active = false;
    int relay = 0;
    Step steps[12] = {};
    int count = 0, index = 0;
    int handover = -1;  // PlateReady comes on when this step ends
    uint64_t stepStart = 0, stepEnd = 0;
    int cassette = 0, level = 0;
    int record = -1;    // index into accesses_, or -1
  };

  // Clock.
  uint64_t StoreTime(uint64_t wireUs) const;
  uint64_t WireTime(uint64_t storeUs) const;
  uint64_t NextEventStore() const;
  void Complete();
  void Integrate(uint64_t to);
  uint64_t Jitter(uint64_t us);
  uint32_t Random();

  // Protocol.
  std::string Command(std::string_view line);
  std::string ReadDevice(std::string_view device);
  std::string WriteDevice(std::string_view device, std::string_view value);
  std::string ForceRelay(std::string_view device, bool on);
  void Shape(const std::string& answer, uint64_t tUs, std::vector<Piece>& out);

  // Memory and the scan that keeps the derived words current.
  bool Bit(int relay) const;
  void SetBit(int relay, bool on);
  void WriteDm(int address, uint16_t value);
  void SetRelay(int relay, bool on);
  void Scan();
  uint16_t StatusWord() const;
  void ScanClimate();

  // Mechanics.
  bool Activated() const { return Bit(1801); }
  bool CarBusy() const { return car_.moving || car_.settling; }
  uint64_t CarFreeAt() const { return car_.moving ? car_.end + kT20Us() : car_.settleEnd; }
  static uint64_t kT20Us();
  int DecodePosition(uint16_t dm0) const;  // 0 = no valid position
  bool DecodeSlot(uint16_t dm0, uint16_t dm5, int& cassette, int& level) const;
  int32_t SlotHeight(int cassette, int level) const;
  void StartCarrousel(int target);
  uint64_t MoveAxis(Axis& axis, int32_t target, uint64_t unitsPerSecond);
  void MoveLiftTo(int32_t target);
  void MoveSmcTo(int32_t target);
  bool Idle() const;
  bool ReadyNow() const;
  bool DrivesOn() const;
  int CarrouselShown(bool& atMark) const;
  void Dispatch();
  struct Recipe;
  static const Recipe kRecipes[];  // one per handler relay (StoreJobs.cpp)
  void StartJob(int relay);
  void RunJob();
  void BeginStep();
  bool FinishStep();
  void Fail(AccessResult why);
  void EndJob(AccessResult result);
  void Homing();
  void CountError(int counter);
  uint16_t& SlotRef(int cassette, int level);
  int ShovelRelay() const { return profile_.firmware > 7000 ? 1401 : 1701; }
  int TurnRelay() const { return profile_.firmware > 7000 ? 1402 : 1702; }

  Profile profile_;
  Options options_;
  double speed_ = 1.0;
  uint64_t wireAnchor_ = 0, storeAnchor_ = 0;  // speed changes keep the clocks continuous
  uint64_t wireNow_ = 0;
  uint64_t now_ = 0;  // store time
  uint64_t rng_ = 1;

  Fault fault_ = Fault::None;
  uint32_t faultMs_ = 0;
  std::string raw_;       // the line being received
  bool lineBad_ = false;  // binary byte or overlong
  std::string lastLine_;
  uint64_t lastPieceUs_ = 0;

  uint16_t dm_[kDmWords] = {};
  uint16_t relays_[kRelayChannels] = {};
  uint64_t pendingSince_[10] = {};  // store time each command relay 1900..1909 was set

  Carrousel car_;
  int carRequest_ = 0;      // position DM0 asked for, not yet started
  Axis lift_;
  int32_t liftRequest_ = -1;
  bool liftOvertravel_ = false, liftEndSwitch_ = false;
  Axis smc_;
  int smcCommand_ = -1;     // DM50 command waiting for the drive
  bool smcParamBusy_ = false;
  uint64_t smcParamEnd_ = 0;
  uint16_t smcCode_ = 0, smcValue_ = 0;
  int32_t smcPoint_[2] = {0, 0};
  bool smcOvertravel_ = false, smcEndSwitch_ = false;
  Gate gate_;
  Toggle shovelTest_, turnTest_;
  Job job_;
  AccessResult error_ = AccessResult::Ok;  // Ok = no error standing
  bool plateReady_ = false;

  uint16_t slots_[kMaxCassettes + 1][kMaxLevels + 1] = {};
  uint16_t shovel_ = 0, station_ = 0;
  uint16_t nextPlate_ = 1;

  uint64_t busyUs_ = 0;  // store time with a drive running: the "on time"
  double disturbance_ = 0.0;
  uint64_t disturbedAt_ = 0;

  std::vector<AccessRecord> accesses_;
  uint32_t accessNumber_ = 0;
  Counts counts_;
};

}  // namespace sim
