#include "tools/kserverctl/format.h"

#include <array>

#include "protocol/messages.h"
#include "protocol/properties.h"
#include "tools/kserverctl/text.h"

namespace tarvo::kserverctl {
namespace {

namespace m = protocol::msg;
namespace p = protocol;

// Width on a terminal: one column per code point.
std::size_t Columns(std::string_view utf8) {
  std::size_t n = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

// Columns padded to the widest cell; the last column is not padded.
std::string RenderTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], Columns(row[i]));
    }
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - Columns(row[i]) + 2, ' ');
    }
    out += line + "\n";
  }
  return out;
}

std::string Quoted(std::string_view wire_text) { return "\"" + Printable(wire_text) + "\""; }

std::string NameOrNone(std::string_view wire_text) {
  return wire_text.empty() ? std::string("(noname)") : Printable(wire_text);
}

std::string RightsCell(int rights) {
  return std::to_string(rights) + " " + std::string(RightsText(rights));
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string_view NoticeName(int id) {
  switch (id) {
    case m::kAccountEntry:
      return "account_added";
    case m::kAccountStatus:
      return "account_status";
    case m::kAccountName:
      return "account_renamed";
    case m::kAccountRemoved:
      return "account_removed";
    case m::kAccountDetails:
      return "account_details";
    case m::kPlayerEntry:
      return "player_joined";
    case m::kPlayerLeft:
      return "player_left";
    case m::kPlayerDetails:
      return "player_details";
    case m::kPlayerAccount:
      return "player_account";
    case m::kPlayerChanges:
      return "player_changed";
    default:
      return "unknown";
  }
}

// Order in which a details table shows properties: where the player is, who it is, its look.
constexpr std::array<int, 15> kShowOrder = {14, 4, 5, 12, 13, 6, 7, 8, 9, 10, 11, 17, 15, 16, 0};

std::string Label(int index) {
  if (index == p::kPropAddress) return "last address";
  return std::string(p::kProperties[index].name);
}

// Label and value rows for a property list; x, y and z share one "position" row.
void PropertyRows(const PropertyList& properties, std::vector<std::vector<std::string>>& rows) {
  const PropertyField* x = properties.Find(p::kPropX);
  const PropertyField* y = properties.Find(p::kPropY);
  const PropertyField* z = properties.Find(p::kPropZ);
  bool position_done = false;
  for (int index : kShowOrder) {
    if (index == p::kPropViewAngle && !position_done && (x || y || z)) {
      const auto part = [](const PropertyField* f) {
        return f ? PropertyValueText(*f) : std::string("-");
      };
      rows.push_back({"position", part(x) + ", " + part(y) + ", " + part(z)});
      position_done = true;
    }
    if (const PropertyField* field = properties.Find(index)) {
      rows.push_back({Label(index), PropertyValueText(*field)});
    }
  }
  if (!properties.complete) rows.push_back({"note", "the property text was cut short"});
}

// key=value words for one notice line.
std::string InlineProperties(const PropertyList& properties) {
  std::string out;
  for (const PropertyField& field : properties.fields) {
    if (!out.empty()) out += " ";
    out += std::string(PropertyKey(field.index)) + "=";
    out += p::kProperties[field.index].is_text() ? Quoted(field.text) : PropertyValueText(field);
  }
  if (!properties.complete) out += out.empty() ? "(cut short)" : " (cut short)";
  return out;
}

std::string AccountLabel(int number, const RemoteDirectory& directory) {
  std::string out = "account " + std::to_string(number);
  if (const AccountRow* a = directory.FindAccount(number)) out += " (" + NameOrNone(a->name) + ")";
  return out;
}

std::string PlayerLabel(int id, const RemoteDirectory& directory) {
  std::string out = "player " + std::to_string(id);
  if (const PlayerRow* pl = directory.FindPlayer(id)) out += " (" + NameOrNone(pl->account) + ")";
  return out;
}

void WriteFlags(JsonWriter& json, int flags) {
  const p::AccountFlags decoded = p::DecodeAccountFlags(flags);
  json.Key("flags").Number(flags);
  json.Key("rights").Number(decoded.rights);
  json.Key("rights_caption").String(RightsText(decoded.rights));
  json.Key("guest").Bool(decoded.load_only);
  json.Key("blocked").Bool(decoded.blocked);
}

void FlagRows(int flags, std::vector<std::vector<std::string>>& rows) {
  const p::AccountFlags decoded = p::DecodeAccountFlags(flags);
  rows.push_back({"rights", RightsCell(decoded.rights)});
  rows.push_back({"guest", YesNo(decoded.load_only)});
  rows.push_back({"blocked", YesNo(decoded.blocked)});
}

}  // namespace

void WriteProperties(JsonWriter& json, const PropertyList& properties) {
  json.BeginObject();
  for (const PropertyField& field : properties.fields) {
    json.Key(PropertyKey(field.index));
    const p::PropertyEncoding encoding = p::kProperties[field.index].encoding;
    if (encoding == p::PropertyEncoding::kShortString) {
      json.WireString(field.text);
    } else if (encoding == p::PropertyEncoding::kColour ||
               encoding == p::PropertyEncoding::kAddress) {
      json.String(PropertyValueText(field));
    } else {
      json.Number(field.number);
    }
  }
  json.EndObject();
}

std::string FormatAccounts(const std::vector<AccountRow>& accounts, OutputFormat format) {
  if (format == OutputFormat::kJson) {
    JsonWriter json;
    json.BeginArray();
    for (const AccountRow& a : accounts) {
      json.BeginObject();
      json.Key("number").Number(a.number);
      json.Key("name").WireString(a.name);
      json.Key("rights").Number(a.rights());
      json.Key("rights_caption").String(RightsText(a.rights()));
      json.Key("state").String(AccountStateText(a.state()));
      json.EndObject();
    }
    json.EndArray();
    return json.text() + "\n";
  }
  std::vector<std::vector<std::string>> rows = {{"NUMBER", "NAME", "RIGHTS", "STATE"}};
  for (const AccountRow& a : accounts) {
    rows.push_back({std::to_string(a.number), NameOrNone(a.name), RightsCell(a.rights()),
                    std::string(AccountStateText(a.state()))});
  }
  return RenderTable(rows) + std::to_string(accounts.size()) + " account(s)\n";
}

std::string FormatPlayers(const std::vector<PlayerRow>& players, OutputFormat format) {
  if (format == OutputFormat::kJson) {
    JsonWriter json;
    json.BeginArray();
    for (const PlayerRow& pl : players) {
      json.BeginObject();
      json.Key("id").Number(pl.id);
      json.Key("account").WireString(pl.account);
      json.Key("properties");
      WriteProperties(json, pl.properties);
      json.EndObject();
    }
    json.EndArray();
    return json.text() + "\n";
  }
  std::vector<std::vector<std::string>> rows = {{"ID", "ACCOUNT", "NICKNAME", "LEVEL", "HEAD"}};
  const auto text = [](const PlayerRow& pl, int index) {
    const PropertyField* f = pl.properties.Find(index);
    return f ? PropertyValueText(*f) : std::string();
  };
  for (const PlayerRow& pl : players) {
    rows.push_back({std::to_string(pl.id), NameOrNone(pl.account), text(pl, p::kPropNickname),
                    text(pl, p::kPropLevelName), text(pl, p::kPropHeadMesh)});
  }
  return RenderTable(rows) + std::to_string(players.size()) + " player(s)\n";
}

std::string FormatAccount(const AccountView& account, OutputFormat format) {
  if (format == OutputFormat::kJson) {
    JsonWriter json;
    json.BeginObject();
    json.Key("number").Number(account.number);
    json.Key("name").WireString(account.name);
    WriteFlags(json, account.flags);
    json.Key("state");
    if (account.status) {
      json.String(AccountStateText(*account.status % 4));
    } else {
      json.Null();
    }
    json.Key("properties");
    WriteProperties(json, account.properties);
    json.EndObject();
    return json.text() + "\n";
  }
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"account", std::to_string(account.number)});
  rows.push_back({"name", NameOrNone(account.name)});
  FlagRows(account.flags, rows);
  if (account.status) rows.push_back({"state", std::string(AccountStateText(*account.status % 4))});
  PropertyRows(account.properties, rows);
  return RenderTable(rows);
}

std::string FormatPlayer(const PlayerView& player, OutputFormat format) {
  if (format == OutputFormat::kJson) {
    JsonWriter json;
    json.BeginObject();
    json.Key("id").Number(player.id);
    json.Key("account").WireString(player.account);
    WriteFlags(json, player.flags);
    json.Key("properties");
    WriteProperties(json, player.properties);
    json.EndObject();
    return json.text() + "\n";
  }
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"player", std::to_string(player.id)});
  rows.push_back({"account", NameOrNone(player.account)});
  FlagRows(player.flags, rows);
  PropertyRows(player.properties, rows);
  return RenderTable(rows);
}

std::string FormatNotice(const Notice& notice, const RemoteDirectory& directory,
                         OutputFormat format) {
  if (format == OutputFormat::kJson) {
    JsonWriter json;
    json.BeginObject();
    json.Key("notice").String(NoticeName(notice.id));
    const bool account = notice.id <= m::kAccountDetails;
    json.Key(account ? "number" : "id").Number(notice.number);
    switch (notice.id) {
      case m::kAccountEntry:
        json.Key("name").WireString(notice.name);
        [[fallthrough]];
      case m::kAccountStatus: {
        const int rights = notice.status / 4;
        json.Key("rights").Number(rights);
      }
        json.Key("rights_caption").String(RightsText(notice.status / 4));
        json.Key("state").String(AccountStateText(notice.status % 4));
        break;
      case m::kAccountName:
        if (const AccountRow* a = directory.FindAccount(notice.number)) {
          json.Key("old_name").WireString(a->name);
        }
        json.Key("name").WireString(notice.name);
        break;
      case m::kPlayerEntry:
      case m::kPlayerAccount:
        json.Key("account").WireString(notice.name);
        break;
      default:
        break;
    }
    if (notice.id == m::kPlayerEntry || notice.id == m::kPlayerChanges) {
      json.Key("properties");
      WriteProperties(json, notice.properties);
    }
    json.EndObject();
    return json.text() + "\n";
  }
  std::string line;
  switch (notice.id) {
    case m::kAccountEntry:
      line = "account " + std::to_string(notice.number) + " added: " + Quoted(notice.name) + ", " +
             std::string(RightsText(notice.status / 4)) + ", " +
             std::string(AccountStateText(notice.status % 4));
      break;
    case m::kAccountStatus:
      line = AccountLabel(notice.number, directory) +
             " status: " + std::string(RightsText(notice.status / 4)) + ", " +
             std::string(AccountStateText(notice.status % 4));
      break;
    case m::kAccountName: {
      line = "account " + std::to_string(notice.number) + " renamed: ";
      if (const AccountRow* a = directory.FindAccount(notice.number)) {
        line += Quoted(a->name) + " -> ";
      }
      line += Quoted(notice.name);
      break;
    }
    case m::kAccountRemoved:
      line = AccountLabel(notice.number, directory) + " removed";
      break;
    case m::kPlayerEntry:
      line = "player " + std::to_string(notice.number) + " joined: account " + Quoted(notice.name);
      if (!notice.properties.fields.empty()) line += ", " + InlineProperties(notice.properties);
      break;
    case m::kPlayerLeft:
      line = PlayerLabel(notice.number, directory) + " left";
      break;
    case m::kPlayerAccount:
      line = PlayerLabel(notice.number, directory) + " now uses account " + Quoted(notice.name);
      break;
    case m::kPlayerChanges:
      line = PlayerLabel(notice.number, directory) +
             " changed: " + InlineProperties(notice.properties);
      break;
    default:
      line = std::string(NoticeName(notice.id)) + " " + std::to_string(notice.number);
      break;
  }
  return line + "\n";
}

}  // namespace tarvo::kserverctl
