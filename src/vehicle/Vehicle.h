#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/Bytes.h"
#include "platform/Files.h"
#include "vehicle/J1939.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}
namespace rlv::platform {
class ITimer;
}

namespace rlv::vehicle {

// ---- Accelerometer calibration arithmetic -----------------------------------

// The angle in degrees (single precision, swept from -180 in steps of 0.1)
// that brings the p component closest to zero while the q component stays
// positive; 0 when no angle beats the start. `sense` is +1 or -1.
float Sweep(float p, float q, int sense);
// An angle truncated toward zero to whole degrees.
int16_t TruncAngle(float degrees);
// The angle between the tracker's +Y axis and the horizontal acceleration
// (x, y), in whole degrees, negative when x < 0.
int16_t MovementAngle(int16_t x, int16_t y);

// ---- Tachograph texts ---------------------------------------------------------

// The state record (the payload from P[5]) as its twelve lines, CR LF apart.
// Bytes beyond what arrived read as 0.
std::string TachoStateText(const link::Payload& record);
// "Регистрационный номер:" + registration + CR LF + "Номер VIN:" + VIN; the
// registration is bounded to its 15 bytes, the VIN to what arrived.
std::string TachoVehicleText(const link::Payload& record);
// "Object_" + the IMEI's digits + ".ddd".
std::string TachoProposedName(const std::string& imei);

// J1939 catalogue and CAN patterns, tachograph, accelerometer calibration.
class Vehicle {
 public:
  static constexpr const char* kCatalogueFile = "j1939.can";
  static constexpr const char* kPatternFile = "CAN_patterns.txt";
  static constexpr size_t kMaxCatalogueBytes = 4u << 20;
  static constexpr int kGridRows = 10;
  static constexpr int kTachoBusyRetryMs = 500;
  static constexpr uint8_t kCmdTachograph = 69;
  static constexpr uint8_t kCmdTransparentPort = 52;

  explicit Vehicle(app::MainWindow& w);
  ~Vehicle();
  Vehicle(const Vehicle&) = delete;
  Vehicle& operator=(const Vehicle&) = delete;

  // The pattern editor, the tachograph buttons, the transparent port group
  // and the calibration page.
  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  // ---- J1939 catalogue and CAN patterns ----------------------------------------
  std::vector<J1939Str> J1939;
  bool J1939Available = false;
  // Loads the catalogue (the data folder's, else the shipped one) and fills SPNLIST.
  void LoadJ1939Struct();
  // The first catalogue entry with this SPN, or -1.
  int GetIndexJ1939Struct(uint32_t spn) const;
  int GetIndexJ1939Struct(const std::string& spn_text) const;
  // Pattern `number` (1..5) of the pattern file into the grid and the summary.
  void ReadPattern(int number);
  // The grid's ten rows into pattern `number`; false, with the reason in
  // PatternError and on the message panel, when the file could not be written.
  bool WritePattern(int number);
  std::string PatternError;
  // The current pattern into the record's CAN parameters and register masks.
  void LoadDataToCANBUSStruct();
  // The record's CAN parameters back into pattern `number`.
  void StructCANIDFromDeviceToPattern(int number);

  void EditPatternClick();
  void PatternIDGridSelectCell(int col, int row);
  void SPNLISTChange();
  void REGLISTChange();
  void Label45Click();
  void Label48Click();
  void Image2Click();

  // ---- Tachograph and transparent port ------------------------------------------
  bool TachoDownloading = false;
  std::string TachoFileName;
  // The file being downloaded: in the place of TachoFileName only once complete.
  std::unique_ptr<platform::OutputFile> TachoFile;
  uint32_t TachoReceived = 0;

  void OnTachographAnswer(const link::Payload& p);
  // Shows the tachograph login for the chosen model.
  void TACHOMODELChange();
  void Button5Click();
  void Button6Click();
  void Button7Click();
  void OpenTransPortClick();
  std::unique_ptr<platform::ITimer> TachoRetryTimer;

  // ---- Accelerometer calibration --------------------------------------------------
  // The calibration in whole degrees: the two horizon angles and the direction
  // angle. Carried in the main configuration record.
  std::array<int16_t, 3> Calibration{};
  // The horizontal acceleration of largest magnitude since the movement method was chosen.
  int16_t MoveMaxX = 0;
  int16_t MoveMaxY = 0;

  void CalibrateStep0Click();
  void CalibrateStep1Click();
  void CalibrateStep3TypeClick();
  void CalibrateStep3Click();
  void A0Click(const std::string& caption);
  void Button9Click();
  // Label19: the "Str67" text and the catalogued SPNs of the grid.
  void ShowSummary();

  // A navigation record's accelerometer X and Y while the movement method runs.
  void TrackMovement(int16_t x, int16_t y);

 private:
  std::string CataloguePath() const;
  std::string PatternPath() const;
  std::string NameOf(const J1939Str& e) const;
  void FillRowFromCatalogue(int row);
  void SendTacho(const std::vector<uint8_t>& payload);
  void SendTachoStart();
  void EndTachoTransfer();
  void TachoChunk(const link::Payload& p);
  void TachoFileReady();
  void TachoStepResult(const link::Payload& p);
  void WriteCalibration();

  app::MainWindow& w_;
  int spn_row_ = 0;
  int reg_row_ = 0;
};

}  // namespace rlv::vehicle
