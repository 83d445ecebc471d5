#include "config/ConfigControls.h"

#include "ui/Controls.h"

namespace rlv::config {

using ui::Control;
using ui::ControlModel;
using ui::Kind;

const BoundedEdit kBoundedEdits[29] = {
    {"TimePark", 250},       {"Perpackstop", 65000},  {"Perpackstop2", 65000},   {"Accel_sens", 10000},
    {"Timeoutstop", 65000},  {"Perpackmove", 65000},  {"Packdist", 65000},       {"Filterlineangel", 250},
    {"Minspeedangel", 250},  {"Minangel", 250},       {"MaxHdop", 25},           {"Maxspeed", 250},
    {"Minspeed", 250},       {"Maxaccel", 250},       {"Maxdist", 250},          {"MINWRINT", 250},
    {"MINSATS", 250},        {"BrakingLevel", 25},    {"AccelerationLevel", 25}, {"CourceLevel", 250},
    {"SkidLevel", 25},       {"PerevorotLevel", 250}, {"Tilt0Level", 250},       {"Tilt1Level", 250},
    {"AgressParam1", 10},    {"AgressParam2", 250},   {"MaxSpeedLevel", 250},    {"MaxSpeedAngle", 250},
    {"MinRadiusAngle", 250},
};

namespace {

Control& Label(ControlModel& m, const std::string& name, const std::string& parent,
               const std::string& caption) {
  Control& c = m.Add(name, Kind::Label, parent);
  c.SetText(caption);
  return c;
}

Control& Edit(ControlModel& m, const std::string& name, const std::string& parent, const std::string& text,
              int max_length = 0, bool digits = false) {
  Control& c = m.Add(name, Kind::Edit, parent);
  c.SetText(text);
  c.SetMaxLength(max_length);
  c.SetDigitsOnly(digits);
  return c;
}

Control& Combo(ControlModel& m, const std::string& name, const std::string& parent,
               std::vector<std::string> items, int index) {
  Control& c = m.Add(name, Kind::ComboBox, parent);
  c.SetItems(std::move(items));
  c.SetIndex(index);
  return c;
}

Control& Check(ControlModel& m, const std::string& name, const std::string& parent,
               const std::string& caption, bool checked) {
  Control& c = m.Add(name, Kind::CheckBox, parent);
  c.SetText(caption);
  c.SetChecked(checked);
  return c;
}

Control& Button(ControlModel& m, const std::string& name, const std::string& parent,
                const std::string& caption) {
  Control& c = m.Add(name, Kind::Button, parent);
  c.SetText(caption);
  return c;
}

Control& Group(ControlModel& m, const std::string& name, const std::string& parent,
               const std::string& caption) {
  Control& c = m.Add(name, Kind::GroupBox, parent);
  c.SetText(caption);
  return c;
}

Control& Overlay(ControlModel& m, const std::string& name, int width, int height) {
  Control& c = m.Add(name, Kind::Panel, "MainForm");
  c.SetGeometry({0, 0, width, height});
  c.SetVisible(false);
  c.SetColor(ui::Rgb(255, 255, 255));
  return c;
}

Control& Grid(ControlModel& m, const std::string& name, const std::string& parent, int cols, int rows) {
  Control& c = m.Add(name, Kind::Grid, parent);
  c.SetGridSize(cols, rows);
  return c;
}

// A labelled edit: the label's name and caption, the edit's name and initial text.
struct Row {
  const char* label;
  const char* caption;
  const char* edit;
  const char* initial;
};

template <size_t N>
void Rows(ControlModel& m, const std::string& parent, const Row (&rows)[N]) {
  for (const Row& r : rows) {
    Label(m, r.label, parent, r.caption);
    Edit(m, r.edit, parent, r.initial);
  }
}

void DataTransferGroup(ControlModel& m) {
  Group(m, "RzGroupBox1", "TabSheet1", "Передача данных");
  Label(m, "Label1", "RzGroupBox1", "Пароль доступа");
  Edit(m, "CONFPASS", "RzGroupBox1", "9723", 5, true);
  Label(m, "Label55", "RzGroupBox1", "ID");
  Edit(m, "ID_Device", "RzGroupBox1", "0", 5, true);
  Label(m, "Label2", "RzGroupBox1", "Оператор");
  Combo(m, "OPERATOR", "RzGroupBox1",
        {"Автоматически, данные с СИМ карты", "Билайн", "Мегафон", "МТС", "Теле2", "Другой"}, 0);
  Edit(m, "UserAPN", "RzGroupBox1", "", 40).SetVisible(false);
  Button(m, "Button10", "RzGroupBox1", "Коды операторов");
  Label(m, "LCURRENTOP", "RzGroupBox1", "Текущий оператор");
  Label(m, "Label3", "RzGroupBox1", "Адрес сервера");
  Edit(m, "SERVERIP", "RzGroupBox1", std::string(kDefaultTelematicsServer) + ":21114");
  Label(m, "Label5", "RzGroupBox1", "Телефон диспетчера");
  Edit(m, "DISPNUMBER", "RzGroupBox1", "+7");
  Label(m, "Label56", "RzGroupBox1", "Протокол передачи");
  Combo(m, "Protocol", "RzGroupBox1", {"Kelvane v5.0", "EGTS"}, 0);
  Label(m, "Label6", "RzGroupBox1", "Трек");
  Combo(m, "TRACKTYPE", "RzGroupBox1", {"Красивый", "Экономичный", "Ручной"}, 0);
  Check(m, "CALLSMSFROMALL", "RzGroupBox1", "Принимать звонки и СМС с любого номера", true);
  Button(m, "SENDTESTPACK", "RzGroupBox1", "Отправить тестовый пакет");
}

void InputsOutputsGroup(ControlModel& m) {
  Group(m, "RzGroupBox2", "TabSheet1", "Входы и выходы");
  Label(m, "Label4", "RzGroupBox2", "Вход 1");
  Combo(m, "IN1TYPE", "RzGroupBox2",
        {"Аналоговый", "Частотный", "Счетный", "Счетный++", "Контроль зажигания", "Контроль зажигания (сон)",
         "Счетчик моточасов"},
        5);
  Label(m, "Label7", "RzGroupBox2", "Вход 2");
  Combo(m, "IN2TYPE", "RzGroupBox2",
        {"Аналоговый", "Частотный", "Счетный", "Счетный--", "Тревожная кнопка", "ТК+вызов диспетчера",
         "Счетчик моточасов"},
        4);
  Label(m, "Label8", "RzGroupBox2", "Выход");
  Combo(m, "OUTTYPE", "RzGroupBox2", {"Нет алгоритма", "Выключить", "Включить", "Инвертировать", "Импульс"},
        0);
  Check(m, "OUTONINCALLING", "RzGroupBox2", "Запустить при входящем вызове", false).SetVisible(false);
  m.Add("OUTINPPARAM", Kind::Panel, "RzGroupBox2").SetVisible(false);
  Label(m, "Label32", "OUTINPPARAM", "Импульс");
  Edit(m, "OUTIMPULS", "OUTINPPARAM", "10", 3, true);
  Label(m, "Label33", "OUTINPPARAM", "Пауза");
  Edit(m, "OUTPAUSE", "OUTINPPARAM", "10", 3, true);
  Label(m, "Label34", "OUTINPPARAM", "Повтор");
  Edit(m, "OUTPERIOD", "OUTINPPARAM", "1", 3, true);
}

void OneWireGroup(ControlModel& m) {
  Group(m, "RzGroupBox4", "TabSheet1", "Интерфейс 1-Wire");
  Combo(m, "WIREKEYOPTION", "RzGroupBox4",
        {"Хранить ключ до смены или выключения", "Хранить код ключа пока на контакторе"}, 0);
  Check(m, "ONOUTIFKEYVALID", "RzGroupBox4", "Активировать выход, если ключ авторизован", false);
  Check(m, "ALARMNOTVALIDKEY", "RzGroupBox4", "Тревога, ключ не авторизован", true);
  const char* labels[5] = {"Label13", "Label14", "Label15", "Label16", "Label17"};
  for (int i = 0; i < 5; ++i) {
    Label(m, labels[i], "RzGroupBox4", "Key " + std::to_string(i + 1));
    Edit(m, "KEY" + std::to_string(i + 1), "RzGroupBox4", "", 12);
  }
}

void PeripheralsGroup(ControlModel& m) {
  Group(m, "RzGroupBox3", "TabSheet1", "Периферия");
  m.Add("PanelRS485", Kind::Panel, "RzGroupBox3");
  Label(m, "Label9", "PanelRS485", "RS485");
  Combo(m, "RS485DEVICE", "PanelRS485",
        {"Не используется", "Датчики уровня топлива ДУТ", "Периферия МОДБАС", "Тахограф"}, 1);
  Label(m, "Label10", "PanelRS485", "Скорость");
  Combo(m, "RS485BAUD", "PanelRS485", {"4800", "9600", "19200", "115200"}, 2);
  Check(m, "MODBUSMODE", "PanelRS485", "Режим ведомого", false).SetVisible(false);
  Control& pages = m.Add("DEVICEPAGE", Kind::PageControl, "PanelRS485");
  for (const char* page : {"DevPage0", "DevPage1", "DevPage2", "TabSheet14", "DevPage4"}) {
    m.Add(page, Kind::Page, "DEVICEPAGE");
  }
  pages.SetIndex(1);
  Label(m, "Label11", "DevPage1", "Сетевой адрес ДУТ 1");
  Edit(m, "FUEL1", "DevPage1", "1", 5, true);
  Label(m, "Label12", "DevPage1", "Сетевой адрес ДУТ 2");
  Edit(m, "FUEL2", "DevPage1", "0", 5, true);
  Control& modbus = Grid(m, "ModBusStr", "DevPage2", 5, 6);
  // Rows are edited in the row editor; the last column is the tracker's.
  modbus.SetReadOnly(true);
  const char* headings[5] = {"ID", "Функция", "Регистр", "Длина", "Значение"};
  for (int c = 0; c < 5; ++c) modbus.SetCell(c, 0, headings[c]);
  // The tachograph page.
  Label(m, "Label52", "TabSheet14", "Тип");
  Combo(m, "TACHOMODEL", "TabSheet14", {"---", "---", "ШТРИХ"}, 2);
  m.Add("Panel51", Kind::Panel, "TabSheet14");
  Label(m, "Label206", "Panel51", "Индекс польз.");
  Edit(m, "TACHOUSER", "Panel51", "0");
  Label(m, "Label207", "Panel51", "Пароль");
  Edit(m, "TACHOPASS", "Panel51", kDefaultTachoPassword, 15);

  m.Add("PanelCAN", Kind::Panel, "RzGroupBox3").SetVisible(false);
  Label(m, "LCANBUSMODE", "PanelCAN", "CANBUS");
  Combo(m, "CANBUSMODE", "PanelCAN",
        {"Не используется", "Шаблон 1", "Шаблон 2", "Шаблон 3", "Шаблон 4", "Шаблон 5"}, 0);
  Label(m, "LCANBAUD", "PanelCAN", "BAUDRATE");
  Combo(m, "CANBAUD", "PanelCAN", {"50 kBit", "100 kBit", "125 kBit", "250 kBit", "500 kBit", "1000 kBit"},
        3);
  Label(m, "Label19", "PanelCAN", "");
}

void ExtraGroup(ControlModel& m) {
  Group(m, "RzGroupBox9", "TabSheet1", "Дополнительные параметры");
  Check(m, "EnDrivingStyle", "RzGroupBox9", "Включить", false);
  Button(m, "Button8", "RzGroupBox9", "Стиль вождения");
  Label(m, "Label71", "RzGroupBox9", "Перейти в энергосбережение при стоянке более, сек");
  Edit(m, "SavePowerAfterStop", "RzGroupBox9", "0", 4, true);
  Check(m, "StopWriteIfSavePowerMode", "RzGroupBox9", "Отключить запись точек во время энергосбережения",
        false);
  Check(m, "VeryLowPower", "RzGroupBox9", "Режим сверхнизкого потребления", false);
  Button(m, "Button12", "RzGroupBox9", "Настроить bluetooth");
  Button(m, "Button19", "RzGroupBox9", "Структура");
}

void TrackPanel(ControlModel& m) {
  Overlay(m, "StructPanel", 560, 470);
  m.Add("Image3", Kind::Image, "StructPanel");
  Label(m, "ParkCheck", "StructPanel", "Стоянка");
  const Row rows[] = {
      {"Label104", "Первые", "TimePark", "10"},
      {"Label105", "минут во время стоянки пишем пакеты с интервалом, сек", "Perpackstop", "120"},
      {"Label107", "Далее переходим на интервал записи, сек", "Perpackstop2", "120"},
      {"Label108", "Чувствительность акселлерометра", "Accel_sens", "800"},
      {"Label109", "Время перехода в режим \"Стоянка\" после остановки, сек", "Timeoutstop", "60"},
      {"Label110", "Период записи пакетов во время движения, сек", "Perpackmove", "60"},
  };
  Rows(m, "StructPanel", rows);
  Label(m, "Filterline", "StructPanel", "Фильтрация на прямых участках");
  const Row lines[] = {
      {"Label111", "При скорости более 20 км/ч, записывать точки с интервалом, метры ", "Packdist", "50"},
      {"Label113", "Выход из режима фильтрации при отклонении, градусы", "Filterlineangel", "5"},
      {"Label112", "Минимальная скорость, при которой включается прорисовка на поворотах ", "Minspeedangel",
       "3"},
      {"Perestroi", "Минимальный угол прорисовки на поворотах ", "Minangel", "5"},
  };
  Rows(m, "StructPanel", lines);
  Label(m, "Label72", "StructPanel", "Параметры фильтрации координат");
  const Row filter[] = {
      {"Label115", "Максимальное значение горизонтальной точности", "MaxHdop", "2"},
      {"Label116", "Максимальная скорость, км/ч", "Maxspeed", "150"},
      {"Label117", "Минимальная скорость, км/ч", "Minspeed", "3"},
      {"Label118", "Максимальное ускорение, м/с2", "Maxaccel", "3"},
      {"Label119", "Максимальный скачок координат, метры", "Maxdist", "50"},
      {"Label345", "Минимальный интервал записи точек в память, сек", "MINWRINT", "1"},
      {"Label414", "Минимальное количество спутников для определения местоположения", "MINSATS", "1"},
  };
  Rows(m, "StructPanel", filter);
  Check(m, "NotWrPointF", "StructPanel", "Не записывать точки, не прошедшие фильтрацию", true);
}

void DrivingStylePanel(ControlModel& m) {
  Overlay(m, "DopPanel", 600, 460);
  m.Add("Image5", Kind::Image, "DopPanel");
  m.Add("DopControl", Kind::PageControl, "DopPanel").SetIndex(0);
  m.Add("CalibratePage", Kind::Page, "DopControl").SetText("Калибровка");
  m.Add("TabSheet17", Kind::Page, "DopControl").SetText("Стиль вождения");
  Label(m, "Label65", "TabSheet17", "Предустановка");
  Combo(m, "PresetAB", "TabSheet17", {"Легковой", "Микроавтобус", "Автобус", "Грузовик", "Тягач+прицеп"}, -1);
  const Row rows[] = {
      {"Label120", "Резкое торможение, м/с2*10", "BrakingLevel", "3,0"},
      {"Label124", "Резкое ускорение, м/с2*10", "AccelerationLevel", "3,0"},
      {"Label125", "Резкое изменение курса, град/сек", "CourceLevel", "100"},
      {"Label127", "Занос, поперечное ускорение, м/с2*10", "SkidLevel", "3,0"},
      {"Label142", "Угол наклона вертикальной оси, определяющий переворот, град", "PerevorotLevel", "90"},
      {"Label143", "Максимальный угол продольного наклона, град", "Tilt0Level", "35"},
      {"Label145", "Максимальный угол поперечного наклона, град", "Tilt1Level", "35"},
      {"Label147", "Перестроений", "AgressParam1", "2"},
      {"Label148", "За единицу времени, сек", "AgressParam2", "20"},
      {"Label155", "Максимальная допустимая скорость движения, км/ч", "MaxSpeedLevel", "90"},
      {"Label58", "Максимальная скорость совершения поворота, км/ч", "MaxSpeedAngle", "40"},
      {"Label60", "Минимально допустимый радиус поворота, м", "MinRadiusAngle", "2"},
  };
  Rows(m, "TabSheet17", rows);
  Label(m, "Label146", "TabSheet17", "Агрессивное вождение определяется следующими параметрами");
  m["Label60"].SetVisible(false);
  m["MinRadiusAngle"].SetVisible(false);
}

void UpdateServerGroup(ControlModel& m) {
  Group(m, "RzGroupBox6", "TabSheet13", "Параметры сервера обновления/облака конфигураций");
  Label(m, "Label36", "RzGroupBox6", "Адрес сервера");
  Edit(m, "IPUPDATE", "RzGroupBox6", kDefaultUpdateServer, 15);
  Label(m, "Label37", "RzGroupBox6", "Порт обновления");
  Edit(m, "UPDPORT", "RzGroupBox6", "10500", 5, true);
  Label(m, "Label38", "RzGroupBox6", "Порт конфигураций");
  Edit(m, "CONFPORT", "RzGroupBox6", "10895", 5, true);
}

void AccessoryPanels(ControlModel& m) {
  Overlay(m, "Panel23", 260, 220);
  Control& mcc = Grid(m, "MCCMNCGRID", "Panel23", 2, 6);
  mcc.SetCell(0, 0, "MCC");
  mcc.SetCell(1, 0, "MNC");
  Button(m, "Button11", "Panel23", "Закрыть");

  Overlay(m, "Panel19", 300, 260);
  Label(m, "Label66", "Panel19", "Адрес устройства");
  Edit(m, "MODID", "Panel19", "0", 5, true);
  Label(m, "Label67", "Panel19", "Адрес регистра");
  Edit(m, "MODREG", "Panel19", "0", 5, true);
  Label(m, "Label68", "Panel19", "Функция чтения");
  Combo(m, "MODFUN", "Panel19", {"3", "4", "16"}, -1);
  Label(m, "Label69", "Panel19", "Длина");
  Combo(m, "MODLEN", "Panel19", {"1", "2", "4"}, -1);
  Edit(m, "MODVALUE", "Panel19", "");
  Button(m, "MODADD", "Panel19", "Добавить/Изменить");
  Button(m, "MODGET", "Panel19", "Запрос");
  Button(m, "MODDELETE", "Panel19", "Удалить");
  Button(m, "MODCLEAR", "Panel19", "Очистить все");
  Label(m, "Label70", "Panel19", "Закрыть");

  Overlay(m, "Panel28", 280, 420);
  m.Add("RzCheckTree1", Kind::CheckTree, "Panel28");
  Button(m, "Button20", "Panel28", "Закрыть");
}

}  // namespace

void DeclareConfigControls(ControlModel& m) {
  DataTransferGroup(m);
  InputsOutputsGroup(m);
  OneWireGroup(m);
  PeripheralsGroup(m);
  ExtraGroup(m);
  TrackPanel(m);
  DrivingStylePanel(m);
  UpdateServerGroup(m);
  AccessoryPanels(m);
  // Room for the bound's digits, a sign and a decimal separator.
  for (const BoundedEdit& edit : kBoundedEdits) {
    m[edit.name].SetMaxLength(static_cast<int>(std::to_string(edit.bound).size()) + 2);
  }
}

}  // namespace rlv::config
