#include "files/batch_plan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "files/config_file.h"
#include "files/csv.h"
#include "files/file_access.h"
#include "files/safe_replace.h"
#include "files/utf8_path.h"
#include "model/image_diff.h"
#include "serial/net_address.h"

namespace lovar {
namespace fs = std::filesystem;
namespace {

// A plan of thousands of devices is still far below this.
constexpr size_t kMaxPlanBytes = 16u << 20;

constexpr std::string_view kPort = "port";
constexpr std::string_view kTemplate = "template";

std::string Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// "A" … "Z", "AA" …, as a spreadsheet names its columns.
std::string ColumnLetters(size_t column) {
  std::string letters;
  for (size_t n = column + 1; n > 0; n = (n - 1) / 26)
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  return letters;
}

// What two names of one port have in common, so that a plan's ports are told apart in one pass:
// a Windows name in any case ("com3", "\\.\COM3", the spooler's "COM3:"); for a path, the
// device it names (a link in /dev/serial/by-id and its target are one character device: their
// device numbers, not the files, are compared), else the path written plainly; for a network port
// its server's host (in any case) and port, whatever the scheme: a device server would let two
// rows talk to one device.
std::string PortKey(const std::string& port) {
  if (IsNetworkPortName(port)) {
    if (const std::optional<NetAddress> address = ParseNetAddress(port)) {
      std::string host = address->host;
      for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return "server " + host + " " + std::to_string(address->port);
    }
    return "text " + port;
  }
  std::string name = port;
  if (name.starts_with("\\\\.\\")) name.erase(0, 4);
  if (name.find_first_of("/\\") == std::string::npos) {
    if (name.ends_with(':')) name.pop_back();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "name " + name;
  }
  const fs::path path = PathFromUtf8(name);
  if (std::string identity = PathIdentity(path); !identity.empty()) return "device " + identity;
  return "path " + Utf8Of(path.lexically_normal());
}

// A control character in a cell (a line break, a NUL): no port, file name or value holds one.
std::optional<std::string> ControlCharacter(const std::string& cell) {
  for (char c : cell) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) continue;
    switch (byte) {
      case '\n':
        return "перевод строки";
      case '\r':
        return "возврат каретки";
      case '\t':
        return "табуляция";
      case 0:
        return "нулевой байт";
      default:
        return "управляющий знак с кодом " + std::to_string(byte);
    }
  }
  return std::nullopt;
}

std::string RowsText(const std::vector<int>& rows) {
  std::string text;
  for (int r : rows) text += (text.empty() ? "" : ", ") + std::to_string(r);
  return text;
}

class Checker {
 public:
  Checker(const fs::path& path, PlanCheck& check) : check_(check), plan_(check.plan) {
    plan_.path = path;
  }

  void Run(std::string_view text) {
    plan_.text = std::string(text);
    // A row per line at most: the rows never move to a larger place while they are taken.
    plan_.rows.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    CsvTable table;
    CsvFault fault;
    bool header = false;
    int records = 0;
    const bool parsed = ForEachCsvRecord(plan_.text, 0, table, fault,
                                         [&](CsvRecord& record, size_t begin, size_t end) {
                                           ++records;
                                           if (records == 1) {
                                             header = !record.Blank();
                                             if (header) {
                                               plan_.header = std::move(record.cells);
                                               Header();
                                             }
                                             return;
                                           }
                                           if (header && !record.Blank())
                                             Row(records, record, begin, end);
                                         });
    if (!parsed) {
      // A table that is not CSV says that alone: its rows were not what they seemed.
      faults_.clear();
      plan_.rows.clear();
      Fault(0, "строка " + std::to_string(fault.line) + ": " + fault.what +
                   (fault.what.find("UTF-8") != std::string::npos
                        ? " (в таблице сохраните план как «CSV UTF-8»)"
                        : ""));
      return Done();
    }
    plan_.separator = table.separator;
    plan_.bom = table.bom;
    if (!header) {
      Fault(1,
            "строка 1: нет заголовка; первая строка плана называет столбцы: port, template "
            "и поля, например object_number");
      return Done();
    }
    if (plan_.rows.empty() && faults_.empty()) Fault(2, "в плане нет ни одной строки с прибором");
    if (port_column_ && template_column_) Values();
    Done();
  }

 private:
  // Faults are said in the order of the table: by row, then by column.
  void Fault(int row, size_t column, std::string text) {
    faults_.push_back({row, column, std::move(text)});
  }
  void Fault(int row, std::string text) { Fault(row, 0, std::move(text)); }
  void Fault(int row, int line, size_t column, const std::string& what) {
    Fault(row, column, Place(row, line, column) + ": " + what);
  }

  std::string Place(int row, int line, size_t column) const {
    std::string place = RowText(row, line) + ", столбец " + ColumnLetters(column);
    if (column < names_.size() && !names_[column].empty()) place += " (" + names_[column] + ")";
    return place;
  }

  void Header() {
    for (const std::string& cell : plan_.header) names_.push_back(Trimmed(cell));
    const int line = 1;
    for (size_t c = 0; c < names_.size(); ++c) {
      const std::string& name = names_[c];
      if (name.empty()) continue;  // fine while no row has a value there
      for (size_t earlier = 0; earlier < c; ++earlier) {
        if (names_[earlier] == name) {
          Fault(1, line, c, "столбец назван дважды (и в столбце " + ColumnLetters(earlier) + ")");
          break;
        }
      }
      if (name == kPort && !port_column_) port_column_ = c;
      if (name == kTemplate && !template_column_) template_column_ = c;
    }
    if (!port_column_) Fault(1, "строка 1: нет столбца port (порт прибора)");
    if (!template_column_) Fault(1, "строка 1: нет столбца template (файл шаблона)");
  }

  void Row(int row_number, const CsvRecord& record, size_t begin, size_t end) {
    if (record.cells.size() != names_.size()) {
      Fault(row_number, RowText(row_number, record.line) + ": ячеек " +
                            std::to_string(record.cells.size()) + ", а столбцов в заголовке " +
                            std::to_string(names_.size()) + " (пропущен или лишний разделитель?)");
      return;
    }
    PlanRow row;
    row.row = row_number;
    row.line = record.line;
    row.begin = begin;
    row.end = end;
    for (size_t c = 0; c < names_.size(); ++c) {
      if (names_[c].empty() && !record.cells[c].empty())
        Fault(row_number, record.line, c, "значение в столбце без имени");
      if (const auto control = ControlCharacter(record.cells[c]))
        Fault(row_number, record.line, c,
              "в ячейке " + *control + " (в ячейке плана бывает только одна строка текста)");
    }
    if (port_column_ && !ControlCharacter(record.cells[*port_column_])) {
      row.port = Trimmed(record.cells[*port_column_]);
      if (row.port.empty()) {
        Fault(row_number, record.line, *port_column_, "не указан порт");
      } else if (const int earlier = PortNamedBefore(row.port); earlier != 0) {
        Fault(row_number, record.line, *port_column_,
              "порт " + row.port + " уже назван в строке " + std::to_string(earlier));
      }
    }
    // Without a sound template the row's values are checked by nothing.
    row.template_index = kNone;
    if (template_column_ && !ControlCharacter(record.cells[*template_column_])) {
      const std::string cell = Trimmed(record.cells[*template_column_]);
      if (cell.empty())
        Fault(row_number, record.line, *template_column_, "не указан файл шаблона");
      else if (const std::optional<size_t> t = Template(cell, row_number); t)
        row.template_index = *t;
    }
    if (row.template_index != kNone) RowValues(row, record);
    plan_.rows.push_back(std::move(row));
    if (!row_port_key_.empty()) {
      ports_.emplace(std::hash<std::string>{}(row_port_key_), plan_.rows.size() - 1);
      row_port_key_.clear();
    }
  }

  // The row of an earlier row naming the same port (PortKey), or 0. Only a hash of each key is
  // kept; a hash met again is told from a true match by the earlier row's key made anew.
  int PortNamedBefore(const std::string& port) {
    std::string key = PortKey(port);
    const auto [first, last] = ports_.equal_range(std::hash<std::string>{}(key));
    for (auto it = first; it != last; ++it) {
      const PlanRow& earlier = plan_.rows[it->second];
      if (PortKey(earlier.port) == key) return earlier.row;
    }
    row_port_key_ = std::move(key);
    return 0;
  }

  // Every value of the row through its field's own check, over the row's template (whose
  // model is the plan's: the first sound template set it).
  void RowValues(PlanRow& row, const CsvRecord& record) {
    const std::vector<const Field*>& fields = ColumnFields();
    ConfigImage scratch = plan_.templates[row.template_index].image;
    for (size_t c = 0; c < names_.size(); ++c) {
      const std::string& text = record.cells[c];
      if (!fields[c] || text.empty() || ControlCharacter(text)) continue;  // said above
      std::string why;
      if (!StoreFieldText(*fields[c], scratch, text, why))
        Fault(row.row, row.line, c, FieldRefusal(*fields[c], why));
    }
    row.object_number = ObjectNumber(plan_.model, scratch);
  }

  // The field of each column, for the plan's model; null for port, template, an unnamed
  // column and an id the model has no field for (said once, at the end).
  const std::vector<const Field*>& ColumnFields() {
    if (column_fields_.size() == names_.size()) return column_fields_;
    column_fields_.assign(names_.size(), nullptr);
    for (size_t c = 0; c < names_.size(); ++c) {
      if (c == port_column_ || c == template_column_ || names_[c].empty()) continue;
      column_fields_[c] = FindFieldById(plan_.model, names_[c]);
    }
    return column_fields_;
  }

  // The template of a cell: loaded once, its fault said once (at the first row naming it).
  std::optional<size_t> Template(const std::string& cell, int row_number) {
    // In UTF-8 both ways: a narrow path goes through the ANSI code page on Windows.
    fs::path path = PathFromUtf8(cell);
    if (path.is_relative()) path = plan_.path.parent_path() / path;
    path = path.lexically_normal();
    const std::string key = ShownPath(path);
    auto known = templates_.find(key);
    if (known == templates_.end()) {
      Loaded loaded;
      loaded.first_row = row_number;
      int model = 0;
      PlanTemplate t{path, {}};
      if (LoadAnyConfigFile(path, model, t.image, loaded.why)) {
        if (plan_.model == 0) {
          plan_.model = model;
          model_row_ = row_number;
        }
        if (model == plan_.model) {
          loaded.index = plan_.templates.size();
          plan_.templates.push_back(std::move(t));
        } else {
          loaded.why = "шаблон для модели " + ModelNameAndCode(model) + ", а план — для " +
                       ModelNameAndCode(plan_.model) + " (по шаблону строки " +
                       std::to_string(model_row_) + ")";
        }
      }
      known = templates_.emplace(key, std::move(loaded)).first;
    }
    Loaded& loaded = known->second;
    if (loaded.index) return loaded.index;
    loaded.rows.push_back(row_number);
    return std::nullopt;
  }

  // The templates that could not be taken, and the field ids of the header (the rows' values
  // were checked as they came).
  void Values() {
    for (const auto& [key, loaded] : templates_) {
      if (loaded.index) continue;
      const std::string more =
          loaded.rows.size() > 1
              ? " (этот шаблон и в строках " +
                    RowsText(std::vector<int>(loaded.rows.begin() + 1, loaded.rows.end())) + ")"
              : "";
      const PlanRow& first = RowNumbered(loaded.first_row);
      Fault(first.row, first.line, *template_column_, key + ": " + loaded.why + more);
    }
    if (plan_.model == 0) return;  // no template read: the ids cannot be checked
    const std::vector<const Field*>& fields = ColumnFields();
    for (size_t c = 0; c < names_.size(); ++c) {
      if (c == *port_column_ || c == *template_column_ || names_[c].empty() || fields[c]) continue;
      Fault(1, 1, c,
            "у модели " + ModelNameAndCode(plan_.model) +
                " нет такого поля (все поля: lovar-cli show ШАБЛОН --json)");
    }
    plan_.columns = fields;
  }

  const PlanRow& RowNumbered(int number) const {
    return *std::find_if(plan_.rows.begin(), plan_.rows.end(),
                         [number](const PlanRow& r) { return r.row == number; });
  }

  void Done() {
    std::stable_sort(faults_.begin(), faults_.end(), [](const Found& a, const Found& b) {
      return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    for (Found& f : faults_) check_.faults.push_back(std::move(f.text));
  }

  struct Found {
    int row;
    size_t column;
    std::string text;
  };
  struct Loaded {
    std::optional<size_t> index;  // into plan_.templates when sound
    std::string why;              // otherwise
    int first_row = 0;
    std::vector<int> rows;  // the rows that name it, while unsound
  };
  static constexpr size_t kNone = static_cast<size_t>(-1);

  PlanCheck& check_;
  BatchPlan& plan_;
  std::vector<std::string> names_;  // the header's cells, trimmed
  std::optional<size_t> port_column_;
  std::optional<size_t> template_column_;
  std::map<std::string, Loaded> templates_;
  // By the hash of PortKey: the index of the row that names the port first.
  std::unordered_multimap<size_t, size_t> ports_;
  std::string row_port_key_;  // the key of the row being taken, when it is new
  std::vector<const Field*> column_fields_;
  std::vector<Found> faults_;
  int model_row_ = 0;
};

}  // namespace

std::string RowText(int row, int line) {
  std::string text = "строка " + std::to_string(row);
  if (line != row) text += " (строка файла " + std::to_string(line) + ")";
  return text;
}

PlanCheck CheckBatchPlan(std::string_view text, const fs::path& path) {
  PlanCheck check;
  Checker(path, check).Run(text);
  return check;
}

PlanCheck LoadBatchPlan(const fs::path& path) {
  std::vector<uint8_t> bytes;
  PathKind kind = PathKind::Regular;
  const FsResult read = ReadRegularFile(path, kMaxPlanBytes + 1, bytes, kind);
  if (!read.ok || bytes.size() > kMaxPlanBytes) {
    PlanCheck check;
    check.plan.path = path;
    check.unreadable = true;
    if (read.ok)
      check.faults.push_back("файл больше 16 МБ: это не план");
    else if (kind != PathKind::Regular && kind != PathKind::Missing)
      check.faults.push_back("это " + std::string(PathKindText(kind)) + ", а не обычный файл");
    else
      check.faults.push_back(read.message);
    return check;
  }
  return CheckBatchPlan(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        path);
}

std::vector<std::string> RowCells(const BatchPlan& plan, const PlanRow& row) {
  std::vector<std::string> cells;
  CsvTable table;
  CsvFault fault;
  const std::string_view text = std::string_view(plan.text).substr(row.begin, row.end - row.begin);
  ForEachCsvRecord(text, plan.separator, table, fault, [&cells](CsvRecord& record, size_t, size_t) {
    if (cells.empty()) cells = std::move(record.cells);
  });
  return cells;
}

std::vector<PlanValue> RowValues(const BatchPlan& plan, const PlanRow& row) {
  std::vector<PlanValue> values;
  const std::vector<std::string> cells = RowCells(plan, row);
  for (size_t c = 0; c < cells.size() && c < plan.columns.size(); ++c)
    if (plan.columns[c] != nullptr && !cells[c].empty())
      values.push_back({plan.columns[c], cells[c]});
  return values;
}

bool ApplyPlanValues(int model, const ConfigImage& templ, const std::vector<PlanValue>& values,
                     ConfigImage& image, std::string& why) {
  std::copy_n(templ.bytes().begin(), FileImageLength(model), image.bytes().begin());
  for (const PlanValue& v : values) {
    if (!StoreFieldText(*v.field, image, v.text, why)) {
      why = FieldRefusal(*v.field, why);
      return false;
    }
  }
  return true;
}

bool ApplyPlanRow(const BatchPlan& plan, const PlanRow& row, ConfigImage& image, std::string& why) {
  return ApplyPlanValues(plan.model, plan.templates.at(row.template_index).image,
                         RowValues(plan, row), image, why);
}

std::string PlanOfRows(const BatchPlan& plan, const std::vector<const PlanRow*>& rows,
                       const fs::path& target) {
  const auto folder = [](const fs::path& file) {
    std::error_code ec;
    return fs::absolute(file.parent_path(), ec).lexically_normal();
  };
  const bool same_folder = folder(plan.path) == folder(target);
  size_t template_column = plan.header.size();
  for (size_t c = 0; c < plan.header.size(); ++c) {
    if (Trimmed(plan.header[c]) == kTemplate) {
      template_column = c;
      break;
    }
  }
  std::string text = plan.bom ? std::string(kUtf8Bom) : std::string();
  text += CsvLine(plan.header, plan.separator);
  for (const PlanRow* row : rows) {
    std::vector<std::string> cells = RowCells(plan, *row);
    if (!same_folder && template_column < cells.size() &&
        PathFromUtf8(Trimmed(cells[template_column])).is_relative()) {
      std::error_code ec;
      cells[template_column] =
          Utf8Of(fs::absolute(plan.templates.at(row->template_index).path, ec).lexically_normal());
    }
    text += CsvLine(cells, plan.separator);
  }
  return text;
}

}  // namespace lovar
