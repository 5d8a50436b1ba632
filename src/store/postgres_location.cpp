#include "store/postgres_location.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace lovar {
namespace {

// libpq's connection parameters (versions 15 to 17).
constexpr std::array<std::string_view, 43> kKeywords = {"application_name",
                                                        "channel_binding",
                                                        "client_encoding",
                                                        "connect_timeout",
                                                        "dbname",
                                                        "fallback_application_name",
                                                        "gssdelegation",
                                                        "gssencmode",
                                                        "gsslib",
                                                        "host",
                                                        "hostaddr",
                                                        "keepalives",
                                                        "keepalives_count",
                                                        "keepalives_idle",
                                                        "keepalives_interval",
                                                        "krbsrvname",
                                                        "load_balance_hosts",
                                                        "options",
                                                        "passfile",
                                                        "password",
                                                        "port",
                                                        "replication",
                                                        "require_auth",
                                                        "requirepeer",
                                                        "requiressl",
                                                        "service",
                                                        "sslcert",
                                                        "sslcertmode",
                                                        "sslcompression",
                                                        "sslcrl",
                                                        "sslcrldir",
                                                        "sslkey",
                                                        "sslmode",
                                                        "sslnegotiation",
                                                        "sslpassword",
                                                        "sslrootcert",
                                                        "sslsni",
                                                        "ssl_max_protocol_version",
                                                        "ssl_min_protocol_version",
                                                        "target_session_attrs",
                                                        "tcp_user_timeout",
                                                        "user",
                                                        "scram_client_key"};

constexpr std::string_view kPasswordHint =
    "запишите их как %2F, %40 и %3F или храните пароль не в строке, а в ~/.pgpass (Windows: "
    "%APPDATA%\\postgresql\\pgpass.conf)";

// libpq's decoding: "%" and two hexadecimal digits, never "%00".
bool Decode(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= text.size() ||
        std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr !=
            text.data() + i + 3 ||
        value == 0)
      return false;
    out += static_cast<char>(value);
    i += 2;
  }
  return true;
}

bool Digits(std::string_view text, long max) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() && value >= 0 &&
         value <= max;
}

bool ValidPort(std::string_view port) {
  return port.empty() || (Digits(port, 65535) && port.find_first_not_of('0') != port.npos);
}

// The values libpq refuses at the connection, checked here before any device is touched.
bool ValidParameter(const std::string& key, const std::string& value, std::string& why) {
  if (key == "sslmode") {
    for (std::string_view mode :
         {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"})
      if (value == mode) return true;
    why = "неверный sslmode «" + value +
          "» в строке подключения: disable, allow, prefer, require, verify-ca или verify-full";
    return false;
  }
  if (key == "port") {
    size_t start = 0;
    for (size_t comma; start <= value.size(); start = comma + 1) {
      comma = std::min(value.find(',', start), value.size());
      if (!ValidPort(std::string_view(value).substr(start, comma - start))) {
        why = "неверный порт «" + value + "» в строке подключения: нужно число от 1 до 65535";
        return false;
      }
    }
    return true;
  }
  if (key == "connect_timeout" || key.starts_with("keepalives") || key == "tcp_user_timeout") {
    if (Digits(value, 2'000'000'000)) return true;
    why = "неверное значение " + key + " «" + value + "» в строке подключения: нужно число";
    return false;
  }
  return true;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

// Masks the value after each "password=" up to the next separator.
void MaskPasswordParameters(std::string& text) {
  static constexpr std::string_view kKey = "password=";
  for (size_t at = text.find(kKey); at != std::string::npos; at = text.find(kKey, at + 1)) {
    const size_t start = at + kKey.size();
    size_t end = start;
    if (end < text.size() && text[end] == '\'') {
      for (++end; end < text.size() && text[end] != '\''; ++end)
        if (text[end] == '\\') ++end;
      end = std::min(end + 1, text.size());
    } else {
      while (end < text.size() && text[end] != '&' && text[end] != ' ' && text[end] != '"') ++end;
    }
    text.replace(start, end - start, "***");
  }
}

}  // namespace

bool IsPostgresLocation(std::string_view text) {
  return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

bool IsPostgresKeyword(std::string_view word) {
  return std::find(kKeywords.begin(), kKeywords.end(), word) != kKeywords.end();
}

std::string PostgresLocation::Parameter(std::string_view key) const {
  std::string value;
  for (const auto& [k, v] : parameters)
    if (k == key) value = v;
  return value;
}

bool PostgresLocation::NamesServer() const {
  return std::any_of(hosts.begin(), hosts.end(), [](const std::string& h) { return !h.empty(); }) ||
         !Parameter("host").empty() || !Parameter("hostaddr").empty() ||
         !Parameter("service").empty();
}

bool ParsePostgresLocation(std::string_view text, PostgresLocation& out, std::string& why) {
  out = {};
  const size_t scheme = text.find("://");
  if (!IsPostgresLocation(text) || scheme == std::string_view::npos) {
    why = "строка подключения к PostgreSQL начинается с postgresql://";
    return false;
  }
  const std::string ambiguous =
      "строка подключения читается неоднозначно: в имени пользователя или пароле есть «/», «@» "
      "или «?» — " +
      std::string(kPasswordHint);
  std::string_view rest = text.substr(scheme + 3);
  // libpq takes the user's part up to the first "@" that no "/" precedes.
  const size_t at = rest.find('@');
  if (at != std::string_view::npos && at < rest.find('/')) {
    const std::string_view user_part = rest.substr(0, at);
    if (user_part.find('?') != std::string_view::npos) {
      why = ambiguous;
      return false;
    }
    const size_t colon = user_part.find(':');
    out.written_password = colon == std::string_view::npos ? "" : user_part.substr(colon + 1);
    if (!Decode(user_part.substr(0, colon), out.user) ||
        !Decode(out.written_password, out.password)) {
      why = "в имени пользователя или пароле строки подключения знак «%» не образует %XX — " +
            std::string(kPasswordHint) + " (сам знак «%» — %25)";
      return false;
    }
    rest = rest.substr(at + 1);
  }
  // Beyond the user's part an "@" before the first "=" of the parameters means that a raw "@",
  // "/" or "?" cut that part short: libpq would read the password as the host, the port or the
  // database, and show it wherever it names them.
  if (rest.find('@') < rest.find('=')) {
    why = ambiguous;
    return false;
  }
  const size_t query_at = std::min(rest.find('?'), rest.size());
  const std::string_view query = rest.substr(std::min(query_at + 1, rest.size()));
  const std::string_view authority = rest.substr(0, std::min(rest.find('/'), query_at));
  // Hosts: "host[:port]" or "[v6][:port]", separated by commas.
  for (size_t start = 0; start <= authority.size();) {
    const size_t comma = std::min(authority.find(',', start), authority.size());
    std::string_view item = authority.substr(start, comma - start);
    std::string_view host = item, port;
    if (item.starts_with('[')) {
      const size_t close = item.find(']');
      if (close == std::string_view::npos) {
        why = "в строке подключения адрес IPv6 без «]»";
        return false;
      }
      host = item.substr(1, close - 1);
      const std::string_view after = item.substr(close + 1);
      if (!after.empty() && !after.starts_with(':')) {
        why = "в строке подключения после адреса IPv6 ожидается «:порт»";
        return false;
      }
      port = after.empty() ? after : after.substr(1);
    } else if (const size_t colon = item.find(':'); colon != std::string_view::npos) {
      host = item.substr(0, colon);
      port = item.substr(colon + 1);
    }
    std::string decoded_host, decoded_port;
    if (!Decode(host, decoded_host) || !Decode(port, decoded_port)) {
      why = "в адресе сервера строки подключения знак «%» не образует %XX";
      return false;
    }
    if (!ValidPort(decoded_port)) {
      why = "неверный порт в строке подключения: нужно число от 1 до 65535";
      return false;
    }
    out.hosts.push_back(decoded_host);
    out.ports.push_back(decoded_port);
    start = comma + 1;
  }
  const size_t path_at = rest.find('/');
  if (path_at != std::string_view::npos && path_at < query_at &&
      !Decode(rest.substr(path_at + 1, query_at - path_at - 1), out.dbname)) {
    why = "в имени базы строки подключения знак «%» не образует %XX";
    return false;
  }
  for (size_t start = 0; !query.empty() && start <= query.size();) {
    const size_t amp = std::min(query.find('&', start), query.size());
    const std::string_view pair = query.substr(start, amp - start);
    start = amp + 1;
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    std::string key, value;
    if (equals == std::string_view::npos || !Decode(pair.substr(0, equals), key) ||
        !Decode(pair.substr(equals + 1), value)) {
      why = "в параметрах строки подключения (после «?») нужны пары имя=значение, «%» — как %XX";
      return false;
    }
    if (!IsPostgresKeyword(key)) {
      why = "неизвестный параметр строки подключения «" + key + "»";
      return false;
    }
    if (!ValidParameter(key, value, why)) return false;
    out.parameters.emplace_back(std::move(key), std::move(value));
  }
  return true;
}

std::string PostgresWhere(const std::string& conninfo) {
  PostgresLocation parsed;
  std::string why;
  if (!ParsePostgresLocation(conninfo, parsed, why)) return "postgresql://…";
  // As libpq reads it: a parameter after "?" wins over the part of the address.
  const auto list = [](const std::string& text) {
    std::vector<std::string> items;
    for (size_t start = 0; start <= text.size();) {
      const size_t comma = std::min(text.find(',', start), text.size());
      items.push_back(text.substr(start, comma - start));
      start = comma + 1;
    }
    return items;
  };
  const std::string host_parameter = parsed.Parameter("host");
  const std::string port_parameter = parsed.Parameter("port");
  const std::vector<std::string> hosts =
      host_parameter.empty() ? parsed.hosts : list(host_parameter);
  const std::vector<std::string> ports =
      port_parameter.empty() ? parsed.ports : list(port_parameter);
  std::string where = "postgresql://";
  const std::string user =
      parsed.Parameter("user").empty() ? parsed.user : parsed.Parameter("user");
  if (!user.empty()) where += user + "@";
  // Written as it is read back: "[v6]:port", one port for all hosts when one is given.
  for (size_t i = 0; i < hosts.size(); ++i) {
    const std::string& port = ports.size() == 1 ? ports[0] : i < ports.size() ? ports[i] : "";
    where += (i == 0 ? "" : ",") +
             (hosts[i].find(':') != std::string::npos ? "[" + hosts[i] + "]" : hosts[i]);
    if (!port.empty()) where += ":" + port;
  }
  const std::string dbname =
      parsed.Parameter("dbname").empty() ? parsed.dbname : parsed.Parameter("dbname");
  if (!dbname.empty()) where += "/" + dbname;
  return where;
}

std::string WithoutPassword(std::string text, const std::string& conninfo) {
  PostgresLocation parsed;
  std::string why;
  if (ParsePostgresLocation(conninfo, parsed, why)) {
    ReplaceAll(text, parsed.written_password, "***");
    ReplaceAll(text, parsed.password, "***");
    ReplaceAll(text, parsed.Parameter("password"), "***");
  } else if (const size_t scheme = conninfo.find("://"); scheme != std::string::npos) {
    // A string that does not parse: whatever lies between the first ":" and an "@" may be it.
    const size_t colon = conninfo.find(':', scheme + 3);
    for (const size_t at : {conninfo.find('@', scheme + 3), conninfo.rfind('@')})
      if (colon != std::string::npos && at != std::string::npos && colon < at) {
        const std::string written = conninfo.substr(colon + 1, at - colon - 1);
        std::string decoded;
        ReplaceAll(text, written, "***");
        if (Decode(written, decoded)) ReplaceAll(text, decoded, "***");
      }
  }
  MaskPasswordParameters(text);
  return text;
}

}  // namespace lovar
