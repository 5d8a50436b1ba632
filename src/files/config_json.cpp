#include "files/config_json.h"

#include <nlohmann/json.hpp>

#include <set>
#include <vector>

#include "files/file_access.h"
#include "files/json_reader.h"
#include "model/catalog.h"
#include "model/hex.h"
#include "model/model_setup.h"

namespace lovar {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

constexpr size_t kMaxDocumentBytes = 1 << 20;
// A document is an object whose "bytes" list holds objects: nothing in the format lies deeper.
constexpr std::string_view kDocumentMembers[] = {"format", "version", "model", "model_name",
                                                 "length", "fields",  "bytes"};
constexpr JsonFormat kFormat = {kJsonFormatName, kJsonFormatVersion, "документ", 3,
                                kDocumentMembers};
// Runs of bytes: non-zero bytes closer than kRunGap are written as one run, the zeros between
// them included, at most kHexRun bytes to a run; kFillRun or more equal bytes as a fill.
constexpr size_t kRunGap = 4;
constexpr size_t kHexRun = 32;
constexpr size_t kFillRun = 8;

// The value as JSON: numbers as numbers, flags as true and false, everything else (and a number
// written "#N") as its text.
Json ValueJson(const Field& f, const std::string& text) {
  if (f.kind == FieldKind::Number && !text.empty() && text.front() != '#') return std::stoul(text);
  if (f.kind == FieldKind::Flag) return text == "да";
  return text;
}

// The value's text, taking only the JSON type the field's kind is written in: a number (or
// "#N") for a number, true or false for a flag, a string for everything else, so that a list's
// caption "100" is never taken for the number 100 nor an object number for a count.
bool ValueText(const Field& f, const Json& value, std::string& text, std::string& why) {
  switch (f.kind) {
    case FieldKind::Number:
      if (value.is_number_unsigned()) {
        text = std::to_string(value.get<uint64_t>());
      } else if (value.is_number_integer()) {
        text = std::to_string(value.get<int64_t>());  // negative: the store names the range
      } else if (value.is_string() && value.get<std::string>().rfind('#', 0) == 0) {
        text = value.get<std::string>();
      } else {
        why = value.is_string() ? "число пишется без кавычек (в кавычках — только «#N»)"
                                : "нужно целое число";
        return false;
      }
      return true;
    case FieldKind::Flag:
      if (!value.is_boolean()) {
        why = "нужно true или false";
        return false;
      }
      text = value.get<bool>() ? "да" : "нет";
      return true;
    default:
      if (!value.is_string()) {
        why = "значение пишется строкой в кавычках";
        if (value.is_number() || value.is_boolean()) why += ": \"" + value.dump() + "\"";
        return false;
      }
      text = value.get<std::string>();
      return true;
  }
}

// Values are UTF-8 by construction; a file name need not be, and is then shown with U+FFFD.
std::string Dump(const Json& document) {
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

size_t SameFrom(const std::vector<uint8_t>& bytes, size_t i) {
  size_t n = 1;
  while (i + n < bytes.size() && bytes[i + n] == bytes[i]) ++n;
  return n;
}

// The non-zero bytes as runs: {"offset", "hex"}, or {"offset", "fill", "count"} for a stretch
// of one repeated byte (erased memory reads as FF).
Json Runs(const std::vector<uint8_t>& bytes) {
  Json runs = Json::array();
  for (size_t i = 0; i < bytes.size();) {
    if (bytes[i] == 0) {
      ++i;
      continue;
    }
    Json run;
    run["offset"] = i;
    if (const size_t same = SameFrom(bytes, i); same >= kFillRun) {
      run["fill"] = HexText(std::span<const uint8_t>(&bytes[i], 1));
      run["count"] = same;
      runs.push_back(std::move(run));
      i += same;
      continue;
    }
    size_t end = i + 1;  // one past the run's last non-zero byte
    for (size_t k = end; k < bytes.size() && k < end + kRunGap && k < i + kHexRun; ++k) {
      if (bytes[k] != 0 && SameFrom(bytes, k) >= kFillRun) break;
      if (bytes[k] != 0) end = k + 1;
    }
    run["hex"] = HexText(std::span<const uint8_t>(bytes).subspan(i, end - i));
    runs.push_back(std::move(run));
    i = end;
  }
  return runs;
}

// The runs of "bytes", applied to image; each must lie within the file's image, and no byte is
// given by two runs.
bool TakeRuns(const Json& runs, int model, int length, ConfigImage& image, std::string& why) {
  if (!runs.is_array()) {
    why = "член «bytes» должен быть списком";
    return false;
  }
  std::vector<int> given_by(static_cast<size_t>(length), -1);
  for (size_t i = 0; i < runs.size(); ++i) {
    const Json& run = runs[i];
    const std::string name = "bytes[" + std::to_string(i) + "]";
    const bool hex =
        run.is_object() && run.size() == 2 && run.contains("hex") && run["hex"].is_string();
    const bool fill = run.is_object() && run.size() == 3 && run.contains("fill") &&
                      run["fill"].is_string() && run.contains("count") &&
                      run["count"].is_number_unsigned();
    if ((!hex && !fill) || !run.contains("offset") || !run["offset"].is_number_unsigned()) {
      why = name +
            ": нужен {\"offset\": смещение, \"hex\": \"байты\"} или {\"offset\": смещение, "
            "\"fill\": \"байт\", \"count\": сколько}";
      return false;
    }
    const std::string digits = run[hex ? "hex" : "fill"].get<std::string>();
    std::vector<uint8_t> bytes;
    for (size_t k = 0; k < digits.size(); k += 2) {
      const int high = HexDigitValue(static_cast<uint8_t>(digits[k]));
      const int low =
          k + 1 < digits.size() ? HexDigitValue(static_cast<uint8_t>(digits[k + 1])) : -1;
      if (high < 0 || low < 0) {
        why = name + ": «" + digits.substr(k, 2) + "» — не байт из двух шестнадцатеричных цифр";
        return false;
      }
      bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    if (fill && bytes.size() != 1) {
      why = name + ": «fill» — один байт, две шестнадцатеричные цифры";
      return false;
    }
    const uint64_t offset = run["offset"].get<uint64_t>();
    const uint64_t count = fill ? run["count"].get<uint64_t>() : bytes.size();
    if (offset > static_cast<uint64_t>(length) || count > static_cast<uint64_t>(length) - offset) {
      why = name + ": байты должны лежать в пределах 0–" + std::to_string(length - 1);
      return false;
    }
    for (uint64_t k = 0; k < count; ++k) {
      const int at = static_cast<int>(offset + k);
      int& earlier = given_by[static_cast<size_t>(at)];
      if (earlier >= 0) {
        const std::string field = FieldsAtText(model, at);
        why = name + ": байт " + std::to_string(at) + (field.empty() ? "" : " (" + field + ")") +
              " уже задан в bytes[" + std::to_string(earlier) + "]";
        return false;
      }
      earlier = static_cast<int>(i);
      image[at] = bytes[fill ? 0 : static_cast<size_t>(k)];
    }
  }
  return true;
}

bool TakeFields(const Json& fields, int model, int length, ConfigImage& image, std::string& why) {
  if (!fields.is_object()) {
    why = "член «fields» должен быть объектом";
    return false;
  }
  for (const auto& [id, value] : fields.items()) {
    const Field* f = FindFieldById(model, id);
    if (f == nullptr) {
      why = "неизвестное поле «" + id + "» (модель " + std::to_string(model) + ")";
      return false;
    }
    if (!InExtent(*f, length)) {
      why = FieldRefusal(*f, "его байтов " + std::to_string(f->offset) + "–" +
                                 std::to_string(f->last()) + " нет в файле (он хранит байты 0–" +
                                 std::to_string(length - 1) + ")");
      return false;
    }
    std::string text, reason;
    if (!ValueText(*f, value, text, reason) || !StoreFieldText(*f, image, text, reason)) {
      why = FieldRefusal(*f, reason);
      return false;
    }
  }
  for (const Field& f : Fields(model)) {
    if (InExtent(f, length) && !fields.contains(f.id)) {
      why = "нет поля «" + f.id + "» (" + f.caption + ")";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string ExportJson(int model, const ConfigImage& image) {
  const int length = FileImageLength(model);
  Json document;
  document["format"] = kJsonFormatName;
  document["version"] = kJsonFormatVersion;
  document["model"] = model;
  document["model_name"] = ModelName(model);
  document["length"] = length;
  Json fields = Json::object();
  for (const Field& f : Fields(model))
    if (InExtent(f, length)) fields[f.id] = ValueJson(f, FieldText(f, image));
  document["fields"] = std::move(fields);

  // The bits no value sets, where they are not zero; the import starts from zero bytes.
  const std::vector<uint8_t> set = ValueBits(model, image, length);
  std::vector<uint8_t> rest(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i)
    rest[static_cast<size_t>(i)] = static_cast<uint8_t>(image[i] & ~set[static_cast<size_t>(i)]);
  document["bytes"] = Runs(rest);
  return Dump(document);
}

JsonImport ImportJson(std::string_view text, int expected_model) {
  JsonImport result;
  Json document;
  if (!ReadJsonDocument(text, kFormat, document, result.error)) return result;
  const Json& model = document.contains("model") ? document["model"] : Json();
  if (!model.is_number_unsigned() || model.get<uint64_t>() > 1000 ||
      !IsKnownModel(static_cast<int>(model.get<uint64_t>()))) {
    result.error = "член «model» должен быть " + KnownModelsText();
    return result;
  }
  result.model = static_cast<int>(model.get<uint64_t>());
  if (expected_model != 0 && result.model != expected_model) {
    result.wrong_model = true;
    result.error = "Неверный тип УО: документ для модели " + std::to_string(result.model) +
                   ", нужна " + std::to_string(expected_model);
    return result;
  }
  const int length = FileImageLength(result.model);
  if (!document.contains("length") || document["length"] != length) {
    result.error = "член «length» для модели " + std::to_string(result.model) + " должен быть " +
                   std::to_string(length);
    return result;
  }
  if (document.contains("model_name") && !document["model_name"].is_string()) {
    result.error = "член «model_name» должен быть строкой";
    return result;
  }
  if (!document.contains("fields")) {
    result.error = "нет члена «fields»";
    return result;
  }
  if (!document.contains("bytes")) {
    result.error = "нет члена «bytes» (байты вне значений полей; [] — когда их нет)";
    return result;
  }
  ConfigImage image;
  if (!TakeRuns(document["bytes"], result.model, length, image, result.error)) return result;
  if (!TakeFields(document["fields"], result.model, length, image, result.error)) return result;
  result.image = image;
  return result;
}

JsonImport ImportJsonFile(const fs::path& path, int expected_model) {
  JsonImport result;
  auto cannot = [&](std::string text) {
    result.file.error = FileError::CannotOpen;
    result.file.system_message = std::move(text);
    result.error = DescribeError(result.file);
    return result;
  };
  // Only a regular file: a FIFO or a device would keep the reader waiting, or never end.
  std::vector<uint8_t> bytes;
  const FsResult read = ReadRegularFile(path, kMaxDocumentBytes + 1, bytes, result.file.kind);
  if (!read.ok) return cannot(read.message);
  if (bytes.size() > kMaxDocumentBytes) return cannot("файл больше 1 МБ");
  return ImportJson(std::string(bytes.begin(), bytes.end()), expected_model);
}

std::string FieldsJson(std::string_view source, int model, const ConfigImage& image, int extent) {
  Json document;
  document["source"] = source;
  document["model"] = model;
  document["model_name"] = ModelName(model);
  document["extent"] = extent;
  Json fields = Json::array();
  Json absent = Json::array();
  for (const Field& f : Fields(model)) {
    if (!InExtent(f, extent)) {
      absent.push_back(f.id);
      continue;
    }
    Json row;
    row["id"] = f.id;
    row["page"] = PageOf(f.page).caption;
    row["caption"] = f.caption;
    row["value"] = ValueJson(f, FieldText(f, image));
    fields.push_back(std::move(row));
  }
  document["fields"] = std::move(fields);
  document["not_in_source"] = std::move(absent);
  return Dump(document);
}

}  // namespace lovar
