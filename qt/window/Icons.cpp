#include "Icons.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace rlv::qtw {

namespace {

// Colours: the frame blue, a light blue fill and an orange accent.
#define RLV_SVG(body) \
  "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 48 48' width='48' height='48'>" body "</svg>"

// New configuration: a sheet with a plus.
constexpr const char* kNew = RLV_SVG(
    "<path d='M10 4h19l10 10v30H10z' fill='#E3EBF8' stroke='#3E62AA' stroke-width='2.5' "
    "stroke-linejoin='round'/>"
    "<path d='M29 4v10h10' fill='none' stroke='#3E62AA' stroke-width='2.5' stroke-linejoin='round'/>"
    "<path d='M15 20h15M15 26h15M15 32h8' stroke='#3E62AA' stroke-width='2' stroke-linecap='round'/>"
    "<circle cx='35' cy='36' r='9' fill='#F29A2E'/>"
    "<path d='M35 31v10M30 36h10' stroke='#fff' stroke-width='3' stroke-linecap='round'/>");

// Open a configuration file: an open folder with a sheet in it.
constexpr const char* kOpen = RLV_SVG(
    "<path d='M4 10a2 2 0 0 1 2-2h11l4 4h19a2 2 0 0 1 2 2v24H4z' fill='#3E62AA'/>"
    "<path d='M12 9h22v22H12z' fill='#fff' stroke='#9FB3DA' stroke-width='1.5'/>"
    "<path d='M16 15h14M16 20h14M16 25h10' stroke='#9FB3DA' stroke-width='2' stroke-linecap='round'/>"
    "<path d='M4 40l6-18h36l-6 18z' fill='#E3EBF8' stroke='#3E62AA' stroke-width='2.5' "
    "stroke-linejoin='round'/>");

// Save the configuration to a file: a diskette.
constexpr const char* kSave = RLV_SVG(
    "<path d='M8 5h27l8 8v28a2 2 0 0 1-2 2H8a2 2 0 0 1-2-2V7a2 2 0 0 1 2-2z' fill='#3E62AA'/>"
    "<rect x='14' y='5' width='19' height='13' fill='#E3EBF8'/>"
    "<rect x='27' y='7.5' width='4' height='8' fill='#3E62AA'/>"
    "<rect x='12' y='24' width='25' height='16' rx='1' fill='#fff'/>"
    "<path d='M16 30h17M16 35h12' stroke='#F29A2E' stroke-width='2.5' stroke-linecap='round'/>");

// Remote connection through the tracker's GPRS link: a mast with radio waves.
constexpr const char* kRemote = RLV_SVG(
    "<path d='M24 17L15 44M24 17l9 27M18.5 33h11M16.5 39h15' stroke='#3E62AA' stroke-width='2.5' "
    "fill='none' stroke-linecap='round' stroke-linejoin='round'/>"
    "<path d='M17.6 8.6A9 9 0 0 0 17.6 21.4M30.4 8.6A9 9 0 0 1 30.4 21.4' stroke='#3E62AA' "
    "stroke-width='2.5' fill='none' stroke-linecap='round'/>"
    "<path d='M12.7 3.7A16 16 0 0 0 12.7 26.3M35.3 3.7A16 16 0 0 1 35.3 26.3' stroke='#9FB3DA' "
    "stroke-width='2.5' fill='none' stroke-linecap='round'/>"
    "<circle cx='24' cy='15' r='4.5' fill='#F29A2E'/>");

// Monitoring: a screen with a live trace.
constexpr const char* kMonitor = RLV_SVG(
    "<rect x='3' y='6' width='42' height='29' rx='3' fill='#3E62AA'/>"
    "<rect x='6.5' y='9.5' width='35' height='22' fill='#E3EBF8'/>"
    "<path d='M9 23h7l3-8 5 13 4-10 3 5h9' stroke='#F29A2E' stroke-width='2.5' fill='none' "
    "stroke-linejoin='round' stroke-linecap='round'/>"
    "<path d='M19 35l-2 6h14l-2-6z' fill='#3E62AA'/>"
    "<rect x='13' y='40.5' width='22' height='3.5' rx='1.75' fill='#3E62AA'/>");

// Settings: a gear.
constexpr const char* kSettings = RLV_SVG(
    "<g fill='#3E62AA'>"
    "<circle cx='24' cy='24' r='14'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5' transform='rotate(45 24 24)'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5' transform='rotate(90 24 24)'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5' transform='rotate(135 24 24)'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5' transform='rotate(180 24 24)'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5' transform='rotate(225 24 24)'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5' transform='rotate(270 24 24)'/>"
    "<rect x='20' y='3' width='8' height='9' rx='1.5' transform='rotate(315 24 24)'/>"
    "</g>"
    "<circle cx='24' cy='24' r='7.5' fill='#fff'/>"
    "<circle cx='24' cy='24' r='4' fill='#F29A2E'/>");

// The tracker as a box with an antenna stub and status lights (used by write and read).
#define RLV_TRACKER                                                                      \
  "<rect x='6' y='25' width='36' height='19' rx='3' fill='#3E62AA'/>"                    \
  "<rect x='34' y='21' width='4' height='5' fill='#3E62AA'/>"                            \
  "<circle cx='13' cy='34.5' r='2.2' fill='#7CD67C'/><circle cx='20' cy='34.5' r='2.2' " \
  "fill='#E3EBF8'/>"                                                                     \
  "<path d='M26 31h10M26 38h10' stroke='#9FB3DA' stroke-width='2' stroke-linecap='round'/>"

// Write the configuration to the tracker: an arrow into the box.
constexpr const char* kWrite = RLV_SVG(
    RLV_TRACKER
    "<path d='M22 3v17' stroke='#F29A2E' stroke-width='4' stroke-linecap='round'/>"
    "<path d='M14 14l8 9 8-9z' fill='#F29A2E' stroke='#F29A2E' stroke-width='2' stroke-linejoin='round'/>");

// Read the configuration from the tracker: an arrow out of the box.
constexpr const char* kRead = RLV_SVG(
    RLV_TRACKER
    "<path d='M22 22V7' stroke='#F29A2E' stroke-width='4' stroke-linecap='round'/>"
    "<path d='M14 11l8-9 8 9z' fill='#F29A2E' stroke='#F29A2E' stroke-width='2' stroke-linejoin='round'/>");

// Restart the tracker: a power sign with a turning arrow.
constexpr const char* kRestart = RLV_SVG(
    "<path d='M33.6 13.5A15 15 0 1 1 14.4 13.5' stroke='#3E62AA' stroke-width='4' fill='none' "
    "stroke-linecap='round'/>"
    "<path d='M35.5 6.5l-1 9.5-9.5-1z' fill='#3E62AA' stroke='#3E62AA' stroke-width='1.5' "
    "stroke-linejoin='round'/>"
    "<path d='M24 6v16' stroke='#F29A2E' stroke-width='4' stroke-linecap='round'/>");

// Update the tracker's firmware: a chip with an upward arrow.
constexpr const char* kFirmware = RLV_SVG(
    "<path d='M17 4v7M24 4v7M31 4v7M17 37v7M24 37v7M31 37v7M4 17h7M4 24h7M4 31h7M37 17h7M37 24h7M37 "
    "31h7' stroke='#3E62AA' stroke-width='2.5' stroke-linecap='round'/>"
    "<rect x='10' y='10' width='28' height='28' rx='3' fill='#3E62AA'/>"
    "<rect x='14' y='14' width='20' height='20' rx='2' fill='#E3EBF8'/>"
    "<path d='M24 31V19' stroke='#F29A2E' stroke-width='3.5' stroke-linecap='round'/>"
    "<path d='M18 23l6-6.5 6 6.5z' fill='#F29A2E' stroke='#F29A2E' stroke-width='1.5' "
    "stroke-linejoin='round'/>");

// The cloud configuration store: a cloud with an upload and a download arrow.
constexpr const char* kCloud = RLV_SVG(
    "<path d='M13 38h23a8.5 8.5 0 0 0 1.5-16.9A12 12 0 0 0 14.5 17 10.5 10.5 0 0 0 13 38z' "
    "fill='#E3EBF8' stroke='#3E62AA' stroke-width='2.5' stroke-linejoin='round'/>"
    "<path d='M19 34v-9' stroke='#3E62AA' stroke-width='2.5' stroke-linecap='round'/>"
    "<path d='M15 28l4-4.5 4 4.5z' fill='#3E62AA' stroke='#3E62AA' stroke-width='1.5' "
    "stroke-linejoin='round'/>"
    "<path d='M29 24v9' stroke='#F29A2E' stroke-width='2.5' stroke-linecap='round'/>"
    "<path d='M25 30l4 4.5 4-4.5z' fill='#F29A2E' stroke='#F29A2E' stroke-width='1.5' "
    "stroke-linejoin='round'/>");

constexpr const char* kMenu[11] = {kNew,   kOpen, kSave,    kRemote,   kMonitor, kSettings,
                                   kWrite, kRead, kRestart, kFirmware, kCloud};

// The language button shows the flag of the language it switches to.
constexpr const char* kFlagEnglish =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 60 30' width='28' height='14'>"
    "<clipPath id='c'><rect width='60' height='30' rx='3'/></clipPath><g clip-path='url(#c)'>"
    "<rect width='60' height='30' fill='#24408E'/>"
    "<path d='M0 0l60 30M60 0L0 30' stroke='#fff' stroke-width='6'/>"
    "<path d='M0 0l60 30M60 0L0 30' stroke='#CC2936' stroke-width='2.5'/>"
    "<path d='M30 0v30M0 15h60' stroke='#fff' stroke-width='10'/>"
    "<path d='M30 0v30M0 15h60' stroke='#CC2936' stroke-width='6'/></g></svg>";

constexpr const char* kFlagRussian =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 60 30' width='28' height='14'>"
    "<clipPath id='c'><rect width='60' height='30' rx='3'/></clipPath><g clip-path='url(#c)'>"
    "<rect width='60' height='10' fill='#fff'/><rect y='10' width='60' height='10' fill='#1C57A5'/>"
    "<rect y='20' width='60' height='10' fill='#D52B1E'/></g>"
    "<rect x='0.5' y='0.5' width='59' height='29' rx='3' fill='none' stroke='#B8C4DC'/></svg>";

constexpr const char* kMinimize =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 18 18' width='18' height='18'>"
    "<path d='M4.5 12.5h9' stroke='#3E62AA' stroke-width='2.2' stroke-linecap='round'/></svg>";

constexpr const char* kClose =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 18 18' width='18' height='18'>"
    "<path d='M5 5l8 8M13 5l-8 8' stroke='#3E62AA' stroke-width='2.2' stroke-linecap='round'/></svg>";

// The close button of a secondary window's title strip, white on the frame colour.
constexpr const char* kCloseOnFrame =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 16 16' width='16' height='16'>"
    "<path d='M4 4l8 8M12 4l-8 8' stroke='#fff' stroke-width='2' stroke-linecap='round'/></svg>";

// Two small decorations between the language button and the window buttons.
constexpr const char* kDotDecoration =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 16 16' width='16' height='16'>"
    "<circle cx='8' cy='8' r='2.5' fill='#9FB3DA'/></svg>";

constexpr const char* kDividerDecoration =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 16 16' width='16' height='16'>"
    "<path d='M8 2v12' stroke='#9FB3DA' stroke-width='1.5'/></svg>";

// The left strip: a route with waypoints under a satellite.
constexpr const char* kLeftStrip =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 73 578' width='73' height='578' "
    "preserveAspectRatio='xMidYMin slice'>"
    "<defs><linearGradient id='g' x1='0' y1='0' x2='0' y2='1'>"
    "<stop offset='0' stop-color='#F4F7FC'/><stop offset='1' stop-color='#DCE5F5'/></linearGradient></defs>"
    "<rect width='73' height='578' fill='url(#g)'/>"
    "<g transform='translate(36 40) rotate(-30)'>"
    "<rect x='-6' y='-6' width='12' height='12' rx='1.5' fill='#3E62AA'/>"
    "<rect x='-24' y='-4' width='15' height='8' fill='#9FB3DA' stroke='#3E62AA' stroke-width='1'/>"
    "<rect x='9' y='-4' width='15' height='8' fill='#9FB3DA' stroke='#3E62AA' stroke-width='1'/>"
    "<path d='M-9 0h3M6 0h3' stroke='#3E62AA' stroke-width='1.5'/></g>"
    "<path d='M27 62a14 14 0 0 0 6 9M22 66a20 20 0 0 0 8 12' stroke='#F29A2E' stroke-width='2' "
    "fill='none' stroke-linecap='round'/>"
    "<path d='M36 120C10 170 62 210 36 260S10 350 36 400 62 480 36 540' stroke='#3E62AA' "
    "stroke-width='2.5' stroke-dasharray='2 7' stroke-linecap='round' fill='none'/>"
    "<g fill='#3E62AA'><path d='M36 112c-6 0-10 4.5-10 10 0 7.5 10 17 10 17s10-9.5 10-17c0-5.5-4-10-10-10z'/>"
    "<path d='M36 392c-6 0-10 4.5-10 10 0 7.5 10 17 10 17s10-9.5 10-17c0-5.5-4-10-10-10z'/></g>"
    "<g fill='#F29A2E'><path d='M36 252c-6 0-10 4.5-10 10 0 7.5 10 17 10 17s10-9.5 10-17c0-5.5-4-10-10-10z'/>"
    "<path d='M36 532c-6 0-10 4.5-10 10 0 7.5 10 17 10 17s10-9.5 10-17c0-5.5-4-10-10-10z'/></g>"
    "<g fill='#fff'><circle cx='36' cy='122' r='3.5'/><circle cx='36' cy='262' r='3.5'/>"
    "<circle cx='36' cy='402' r='3.5'/><circle cx='36' cy='542' r='3.5'/></g></svg>";

constexpr const char* kGeneric =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 32 32' width='32' height='32'>"
    "<rect x='2' y='5' width='28' height='22' rx='3' fill='#E3EBF8' stroke='#3E62AA' stroke-width='2'/>"
    "<circle cx='11' cy='12' r='3' fill='#F29A2E'/>"
    "<path d='M4 25l8-8 5 5 4-4 7 7z' fill='#3E62AA'/></svg>";

}  // namespace

QByteArray FramePicture(const std::string& name, int picture) {
  if (name.rfind("MImage", 0) == 0 && name.size() > 6) {
    int index = 0;
    for (size_t i = 6; i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9') return {};
      index = index * 10 + (name[i] - '0');
    }
    if (index <= 10) return QByteArray(kMenu[index]);
    return {};
  }
  if (name == "LangImage") return QByteArray(picture == 1 ? kFlagRussian : kFlagEnglish);
  if (name == "MinzImage") return QByteArray(kMinimize);
  // The close marks of the main window and of the panels over its pages.
  for (const char* close : {"CloseImage", "Image2", "Image3", "Image4", "Image5", "NewsClose"}) {
    if (name == close) return QByteArray(kClose);
  }
  if (name.size() > 10 && name.compare(name.size() - 10, 10, "CloseImage") == 0)
    return QByteArray(kCloseOnFrame);
  if (name == "Image10") return QByteArray(kDividerDecoration);
  if (name == "Image9") return QByteArray(kDotDecoration);
  if (name == "Image1") return QByteArray(kLeftStrip);
  return {};
}

QByteArray GenericPicture() {
  return QByteArray(kGeneric);
}

QPixmap RenderPicture(const QByteArray& svg, QSize size, qreal dpr, bool enabled) {
  if (size.isEmpty()) return {};
  const QSize device(qMax(1, qRound(size.width() * dpr)), qMax(1, qRound(size.height() * dpr)));
  QImage image(device, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QSvgRenderer renderer(svg);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(device)));
  }
  if (!enabled) {
    // Greyed: the grey level of each pixel, lighter and half transparent.
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = line[x];
        const int a = qAlpha(p);
        if (a == 0) continue;
        const int grey = qGray(p);
        const int light = grey + (a - grey) / 2;  // premultiplied: stays within alpha
        const int alpha = a * 45 / 100;
        const int value = light * 45 / 100;
        line[x] = qRgba(value, value, value, alpha);
      }
    }
  }
  QPixmap pixmap = QPixmap::fromImage(image);
  pixmap.setDevicePixelRatio(dpr);
  return pixmap;
}

}  // namespace rlv::qtw
