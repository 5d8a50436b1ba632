// Model 251 images as a company's sites hold them, for the registry's benchmarks: the
// simulator's sample with each site's own values (object number, password, telephone numbers,
// loop names, address, keys), and versions of it that each change a field or two.
#pragma once

#include <random>
#include <string>

#include "model/catalog.h"
#include "sim/device_sim.h"
#include "store/site_store.h"

namespace lovar::bench {

inline void Set(ConfigImage& image, const char* id, const std::string& value) {
  std::string why;
  if (const Field* f = FindFieldById(251, id)) StoreFieldText(*f, image, value, why);
}

inline std::string Digits(std::mt19937& random, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + random() % 10);
  return s;
}

// What a company's site looks like after its installer: the sample with this site's own values.
inline ConfigImage SiteImage(int site) {
  std::mt19937 random(static_cast<unsigned>(site) * 7919u + 1);
  ConfigImage image = SampleImage(251);
  static const char* const kNames[] = {"Дверь", "Склад", "Окно",  "Касса", "Подвал",
                                       "Офис",  "Кухня", "Гараж", "Холл",  "Сейф"};
  Set(image, "object_number", std::to_string(site));
  Set(image, "password", Digits(random, 5));
  Set(image, "direction1.phone", "+7916" + Digits(random, 7));
  Set(image, "direction2.phone", "8495" + Digits(random, 7));
  for (int loop = 1; loop <= 4; ++loop)
    Set(image, ("loop" + std::to_string(loop) + ".name").c_str(), kNames[random() % 10]);
  Set(image, "gprs.ip",
      "10." + std::to_string(random() % 256) + "." + std::to_string(random() % 256) + ".10");
  Set(image, "exit_time", std::to_string(10 + random() % 50));
  // The keys of the site's people: eight serial bytes each.
  for (int k = 0; k < 3 + static_cast<int>(random() % 5); ++k)
    for (int i = 1; i < 8; ++i) image[3584 + 16 * k + i] = static_cast<uint8_t>(random());
  return image;
}

// The site's image after `version` edits: each changes a field or two.
inline ConfigImage VersionImage(const ConfigImage& site, int site_number, int version) {
  ConfigImage image = site;
  std::mt19937 random(static_cast<unsigned>(site_number * 31 + version));
  for (int v = 1; v <= version; ++v) {
    switch (random() % 4) {
      case 0:
        Set(image, "entry_time", std::to_string(5 + random() % 60));
        break;
      case 1:
        Set(image, "direction3.phone", "+7903" + Digits(random, 7));
        break;
      case 2:
        Set(image, "siren_time", std::to_string(30 + random() % 200));
        break;
      default:
        image[3584 + 16 * 7 + 1 + random() % 7] = static_cast<uint8_t>(random());
        break;
    }
  }
  return image;
}

inline SiteRecord Record(int site, int version, const ConfigImage& image, StoreTime time) {
  SiteRecord r;
  r.info.time = time;
  r.info.port = "COM5";
  r.info.model = 251;
  r.info.device_line = "Ловар-М Версия 2.2";
  r.info.object = std::to_string(site);
  r.info.operation = version % 3 == 0 ? RecordOperation::Read : RecordOperation::Write;
  r.image.assign(image.bytes().begin(), image.bytes().end());
  return r;
}

}  // namespace lovar::bench
