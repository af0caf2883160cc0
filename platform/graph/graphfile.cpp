#include "platform/graph/graphfile.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <new>
#include <set>

#include "platform/com/objidl.h"
#include "platform/com/runtime.h"
#include "platform/graph/diagnostics.h"

namespace plenor::graph {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* kFormat = "plenor-graph";
constexpr int kVersion = 1;
// Upper bounds of what a graph file may carry: far above any real graph, low enough that a
// damaged file cannot make the reader allocate without limit.
constexpr size_t kMaxBlock = 16u << 20;
constexpr size_t kMaxFilters = 4096;

// "0x8003001E (STG_E_READFAULT)": the form the command-line host prints results in.
std::string ResultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const char* name = HResultName(hr);
  return std::string(code) + " (" + (name ? name : "unnamed result") + ")";
}

std::string PinId(IPin* pin) {
  LPWSTR id = nullptr;
  std::string s;
  if (SUCCEEDED(pin->QueryId(&id)) && id) {
    s = WideToUtf8(id);
    CoTaskMemFree(id);
  }
  return s;
}

std::string NameOf(IBaseFilter* f) {
  FILTER_INFO info{};
  if (FAILED(f->QueryFilterInfo(&info))) return {};
  if (info.pGraph) info.pGraph->Release();
  return WideToUtf8(info.achName);
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* f) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (FAILED(f->EnumPins(&e)) || !e) return pins;
  for (;;) {
    IPin* p = nullptr;
    ULONG got = 0;
    if (e->Next(1, &p, &got) != S_OK || got != 1) break;
    pins.push_back(ComPtr<IPin>::Attach(p));
  }
  return pins;
}

std::string TakeWide(LPOLESTR s) {
  std::string out = s ? WideToUtf8(s) : std::string();
  if (s) CoTaskMemFree(s);
  return out;
}

// A checked reader of one JSON object: every failure names the path of the member.
class Reader {
 public:
  Reader(const json& j, std::string path) : m_j(j), m_path(std::move(path)) {}

  bool Object(std::string* error) const {
    if (m_j.is_object()) return true;
    *error = (m_path.empty() ? std::string("the file") : m_path) + ": not a JSON object";
    return false;
  }
  const json* Member(const char* name, bool required, std::string* error) const {
    auto it = m_j.find(name);
    if (it == m_j.end()) {
      if (required) *error = Path(name) + ": missing";
      return nullptr;
    }
    return &*it;
  }
  bool String(const char* name, bool required, std::string* out, std::string* error) const {
    const json* v = Member(name, required, error);
    if (!v) return !required;
    if (!v->is_string()) {
      *error = Path(name) + ": not a string";
      return false;
    }
    *out = v->get<std::string>();
    return true;
  }
  bool Guid(const char* name, GUID* out, std::string* error) const {
    std::string s;
    if (!String(name, true, &s, error)) return false;
    if (!GuidFromString(s, out)) {
      *error = Path(name) + ": '" + s.substr(0, 64) + "' is not a braced GUID";
      return false;
    }
    return true;
  }
  bool Bool(const char* name, bool* out, std::string* error) const {
    const json* v = Member(name, true, error);
    if (!v) return false;
    if (!v->is_boolean()) {
      *error = Path(name) + ": not true or false";
      return false;
    }
    *out = v->get<bool>();
    return true;
  }
  bool UInt32(const char* name, ULONG* out, std::string* error) const {
    const json* v = Member(name, true, error);
    if (!v) return false;
    if (!v->is_number_unsigned() || v->get<unsigned long long>() > 0xFFFFFFFFull) {
      *error = Path(name) + ": not a whole number from 0 to 4294967295";
      return false;
    }
    *out = static_cast<ULONG>(v->get<unsigned long long>());
    return true;
  }
  bool Bytes(const char* name, bool required, std::string* out, std::string* error) const {
    std::string s;
    if (!String(name, required, &s, error)) return false;
    if (s.size() / 4 * 3 > kMaxBlock) {
      *error = Path(name) + ": larger than " + std::to_string(kMaxBlock) + " bytes";
      return false;
    }
    if (!Base64Decode(s, out)) {
      *error = Path(name) + ": not valid base64";
      return false;
    }
    return true;
  }
  std::string Path(const char* name) const { return m_path.empty() ? name : m_path + "." + name; }

 private:
  const json& m_j;
  std::string m_path;
};

bool ReadEnd(const json& j, const std::string& path, std::string* filter, std::string* pin, std::string* error) {
  Reader r(j, path);
  return r.Object(error) && r.String("filter", true, filter, error) && r.String("pin", true, pin, error);
}

bool ParseJson(const json& root, GraphFile* file, std::string* error) {
  Reader top(root, "");
  if (!top.Object(error)) return false;
  std::string format;
  if (!top.String("format", true, &format, error)) return false;
  if (format != kFormat) {
    *error = "format: '" + format.substr(0, 64) + "' is not \"" + kFormat + "\"";
    return false;
  }
  const json* version = top.Member("version", true, error);
  if (!version) return false;
  if (!version->is_number_integer() || version->get<long long>() != kVersion) {
    *error = "version: " + version->dump().substr(0, 32) + " is not a version this reader knows (1)";
    return false;
  }
  const json* filters = top.Member("filters", true, error);
  if (!filters) return false;
  if (!filters->is_array() || filters->empty()) {
    *error = "filters: not a list of at least one filter";
    return false;
  }
  if (filters->size() > kMaxFilters) {
    *error = "filters: more than " + std::to_string(kMaxFilters) + " filters";
    return false;
  }
  std::set<std::string> names;
  for (size_t i = 0; i < filters->size(); ++i) {
    const std::string path = "filters[" + std::to_string(i) + "]";
    Reader r((*filters)[i], path);
    GraphFileFilter f;
    if (!r.Object(error) || !r.String("name", true, &f.name, error)) return false;
    if (f.name.empty() || f.name.size() > 127) {
      *error = path + ".name: empty or longer than 127 bytes";
      return false;
    }
    if (!names.insert(f.name).second) {
      *error = path + ".name: '" + f.name + "' names two filters";
      return false;
    }
    if (!r.Guid("clsid", &f.clsid, error) || !r.String("display_name", false, &f.displayName, error)) return false;
    if (const json* fj = r.Member("file", false, error)) {
      Reader fr(*fj, path + ".file");
      std::string role;
      if (!fr.Object(error) || !fr.String("role", true, &role, error) || !fr.String("path", true, &f.filePath, error))
        return false;
      if (role == "source") f.fileRole = GraphFileFilter::FileRole::Source;
      else if (role == "sink") f.fileRole = GraphFileFilter::FileRole::Sink;
      else {
        *error = path + ".file.role: '" + role.substr(0, 32) + "' is neither \"source\" nor \"sink\"";
        return false;
      }
    }
    if (const json* pj = r.Member("parameters", false, error)) {
      if (!pj->is_array()) {
        *error = path + ".parameters: not a list";
        return false;
      }
      for (size_t k = 0; k < pj->size(); ++k) {
        Reader pr((*pj)[k], path + ".parameters[" + std::to_string(k) + "]");
        std::string name, value;
        if (!pr.Object(error) || !pr.String("name", true, &name, error)) return false;
        const bool binary = pr.Member("value_base64", false, error) != nullptr;
        if (binary && pr.Member("value", false, error)) {
          *error = pr.Path("value") + ": given together with value_base64";
          return false;
        }
        if (binary ? !pr.Bytes("value_base64", true, &value, error) : !pr.String("value", true, &value, error))
          return false;
        f.parameters.emplace_back(std::move(name), std::move(value));
      }
    }
    if (r.Member("persist", false, error)) {
      if (!r.Bytes("persist", true, &f.persist, error)) return false;
      f.hasPersist = true;
    }
    file->filters.push_back(std::move(f));
  }
  const json* connections = top.Member("connections", true, error);
  if (!connections) return false;
  if (!connections->is_array()) {
    *error = "connections: not a list";
    return false;
  }
  std::set<std::pair<std::string, std::string>> usedPins;
  for (size_t i = 0; i < connections->size(); ++i) {
    const std::string path = "connections[" + std::to_string(i) + "]";
    Reader r((*connections)[i], path);
    GraphFileConnection c;
    if (!r.Object(error)) return false;
    const json* from = r.Member("from", true, error);
    if (!from || !ReadEnd(*from, path + ".from", &c.outFilter, &c.outPin, error)) return false;
    const json* to = r.Member("to", true, error);
    if (!to || !ReadEnd(*to, path + ".to", &c.inFilter, &c.inPin, error)) return false;
    for (const auto& [filter, pin, which] : {std::tuple{c.outFilter, c.outPin, "from"}, std::tuple{c.inFilter, c.inPin, "to"}}) {
      if (!names.count(filter)) {
        *error = path + "." + which + ".filter: '" + filter.substr(0, 64) + "' is not one of the file's filters";
        return false;
      }
      if (!usedPins.insert({filter, pin}).second) {
        *error = path + "." + which + ": pin '" + pin.substr(0, 64) + "' of '" + filter + "' is connected twice";
        return false;
      }
    }
    const json* mt = r.Member("media_type", true, error);
    if (!mt) return false;
    Reader m(*mt, path + ".media_type");
    GraphFileMediaType& t = c.mediaType;
    if (!m.Object(error) || !m.Guid("major", &t.majorType, error) || !m.Guid("subtype", &t.subType, error) ||
        !m.Guid("format_type", &t.formatType, error) || !m.Bool("fixed_size", &t.fixedSizeSamples, error) ||
        !m.Bool("temporal_compression", &t.temporalCompression, error) ||
        !m.UInt32("sample_size", &t.sampleSize, error) || !m.Bytes("format", true, &t.format, error) ||
        !m.String("description", false, &t.description, error))
      return false;
    file->connections.push_back(std::move(c));
  }
  return true;
}

void FreeTypeFields(AM_MEDIA_TYPE& mt) {
  if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  if (mt.pUnk) mt.pUnk->Release();
  mt.pbFormat = nullptr;
  mt.pUnk = nullptr;
}

// Whether the pin is connected with exactly the saved type.
bool ConnectedAsSaved(IPin* pin, const GraphFileMediaType& t) {
  AM_MEDIA_TYPE mt{};
  if (FAILED(pin->ConnectionMediaType(&mt))) return false;
  const std::string format = mt.pbFormat && mt.cbFormat ? std::string(reinterpret_cast<const char*>(mt.pbFormat), mt.cbFormat)
                                                        : std::string();
  const bool same = mt.majortype == t.majorType && mt.subtype == t.subType && mt.formattype == t.formatType &&
                    (mt.bFixedSizeSamples != FALSE) == t.fixedSizeSamples &&
                    (mt.bTemporalCompression != FALSE) == t.temporalCompression && mt.lSampleSize == t.sampleSize &&
                    format == t.format;
  FreeTypeFields(mt);
  return same;
}

json MediaTypeJson(const GraphFileMediaType& t) {
  return json{{"major", GuidToString(t.majorType)},
              {"subtype", GuidToString(t.subType)},
              {"format_type", GuidToString(t.formatType)},
              {"fixed_size", t.fixedSizeSamples},
              {"temporal_compression", t.temporalCompression},
              {"sample_size", t.sampleSize},
              {"format", Base64Encode(t.format)},
              {"description", t.description}};
}

}  // namespace

namespace {

// The length of the well-formed UTF-8 sequence at bytes[i], or 0 (overlong forms, surrogates and
// code points above U+10FFFF are not well formed).
size_t Utf8SequenceAt(const std::string& bytes, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char c = at(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else
    return 0;
  if (i + n > bytes.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

bool IsUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t n = Utf8SequenceAt(bytes, i);
    if (!n) return false;
    i += n;
  }
  return true;
}

std::string PrintableBytes(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const size_t n = Utf8SequenceAt(bytes, i);
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (n > 1 || (n == 1 && c >= 0x20 && c != 0x7F && c != '\\')) {
      out.append(bytes, i, n);
      i += n;
      continue;
    }
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += hex;
    ++i;
  }
  return out;
}

std::string Base64Encode(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text.size() % 4 != 0) return false;
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  bytes->reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int pad = 0;
    if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      int d = k >= 4 - pad ? 0 : value(text[i + static_cast<size_t>(k)]);
      if (d < 0) return false;
      v = (v << 6) | static_cast<unsigned>(d);
    }
    bytes->push_back(static_cast<char>((v >> 16) & 0xFF));
    if (pad < 2) bytes->push_back(static_cast<char>((v >> 8) & 0xFF));
    if (pad < 1) bytes->push_back(static_cast<char>(v & 0xFF));
    // Padding bits must be zero, so that every byte string has exactly one text.
    if ((pad == 1 && (v & 0xFF)) || (pad == 2 && (v & 0xFFFF))) return false;
  }
  return true;
}

HRESULT CaptureGraph(IFilterGraph* graph, const GraphParameterReader& readParameters, GraphFile* file,
                     std::string* error) {
  try {
    file->filters.clear();
    file->connections.clear();
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> e;
    HRESULT hr = graph->EnumFilters(&e);
    if (FAILED(hr)) {
      *error = "cannot list the graph's filters, " + ResultText(hr);
      return hr;
    }
    for (;;) {
      IBaseFilter* f = nullptr;
      ULONG got = 0;
      if (e->Next(1, &f, &got) != S_OK || got != 1) break;
      filters.push_back(ComPtr<IBaseFilter>::Attach(f));
    }
    // Depth of each filter (longest path from a source) so connections are written upstream first.
    std::map<IBaseFilter*, int> depth;
    for (auto& f : filters) depth[f.Get()] = 0;
    for (size_t round = 0; round < filters.size(); ++round) {
      bool changed = false;
      for (auto& f : filters) {
        for (auto& p : PinsOf(f.Get())) {
          PIN_DIRECTION d;
          ComPtr<IPin> peer;
          if (FAILED(p->QueryDirection(&d)) || d != PINDIR_OUTPUT || p->ConnectedTo(&peer) != S_OK || !peer) continue;
          PIN_INFO info{};
          if (FAILED(peer->QueryPinInfo(&info)) || !info.pFilter) continue;
          ComPtr<IBaseFilter> down = ComPtr<IBaseFilter>::Attach(info.pFilter);
          auto it = depth.find(down.Get());
          if (it != depth.end() && it->second < depth[f.Get()] + 1) {
            it->second = depth[f.Get()] + 1;
            changed = true;
          }
        }
      }
      if (!changed) break;
    }
    std::stable_sort(filters.begin(), filters.end(),
                     [&](const ComPtr<IBaseFilter>& a, const ComPtr<IBaseFilter>& b) { return depth[a.Get()] < depth[b.Get()]; });

    for (auto& f : filters) {
      GraphFileFilter out;
      out.name = NameOf(f.Get());
      if (FAILED(hr = f->GetClassID(&out.clsid))) {
        *error = "filter '" + out.name + "' does not tell its class id, " + ResultText(hr);
        return hr;
      }
      ComPtr<IFileSourceFilter> src;
      ComPtr<IFileSinkFilter> sink;
      LPOLESTR name = nullptr;
      if (SUCCEEDED(f->QueryInterface(IID_IFileSourceFilter, src.AsOut())) && SUCCEEDED(src->GetCurFile(&name, nullptr)) && name) {
        out.fileRole = GraphFileFilter::FileRole::Source;
        out.filePath = TakeWide(name);
      } else if (SUCCEEDED(f->QueryInterface(IID_IFileSinkFilter, sink.AsOut())) &&
                 SUCCEEDED(sink->GetCurFile(&name, nullptr)) && name) {
        out.fileRole = GraphFileFilter::FileRole::Sink;
        out.filePath = TakeWide(name);
      }
      if (readParameters) readParameters(f.Get(), &out.parameters);
      ComPtr<IPersistStream> persist;
      if (SUCCEEDED(f->QueryInterface(IID_IPersistStream, persist.AsOut()))) {
        ComPtr<IStream> stream;
        if (FAILED(hr = CreateStreamOnMemory(nullptr, 0, &stream))) return hr;
        if (FAILED(hr = persist->Save(stream.Get(), FALSE)) || FAILED(hr = GetStreamBytes(stream.Get(), &out.persist))) {
          *error = "filter '" + out.name + "' could not save its state (IPersistStream::Save), " + ResultText(hr);
          return hr;
        }
        out.hasPersist = true;
      }
      file->filters.push_back(std::move(out));
    }
    for (auto& f : filters) {
      for (auto& p : PinsOf(f.Get())) {
        PIN_DIRECTION d;
        ComPtr<IPin> peer;
        if (FAILED(p->QueryDirection(&d)) || d != PINDIR_OUTPUT || p->ConnectedTo(&peer) != S_OK || !peer) continue;
        GraphFileConnection c;
        c.outFilter = NameOf(f.Get());
        c.outPin = PinId(p.Get());
        PIN_INFO info{};
        if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
          c.inFilter = NameOf(info.pFilter);
          info.pFilter->Release();
        }
        c.inPin = PinId(peer.Get());
        AM_MEDIA_TYPE mt{};
        if (FAILED(hr = p->ConnectionMediaType(&mt))) {
          *error = "pin '" + c.outPin + "' of '" + c.outFilter + "' does not tell its media type, " + ResultText(hr);
          return hr;
        }
        GraphFileMediaType& t = c.mediaType;
        t.majorType = mt.majortype;
        t.subType = mt.subtype;
        t.formatType = mt.formattype;
        t.fixedSizeSamples = mt.bFixedSizeSamples != FALSE;
        t.temporalCompression = mt.bTemporalCompression != FALSE;
        t.sampleSize = mt.lSampleSize;
        if (mt.pbFormat && mt.cbFormat) t.format.assign(reinterpret_cast<const char*>(mt.pbFormat), mt.cbFormat);
        t.description = DescribeMediaType(mt);
        FreeTypeFields(mt);
        file->connections.push_back(std::move(c));
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return E_OUTOFMEMORY;
  }
}

std::string WriteGraphFile(const GraphFile& file) {
  json filters = json::array();
  for (const GraphFileFilter& f : file.filters) {
    json j{{"name", f.name}, {"clsid", GuidToString(f.clsid)}};
    if (!f.displayName.empty()) j["display_name"] = f.displayName;
    if (f.fileRole != GraphFileFilter::FileRole::None)
      j["file"] = json{{"role", f.fileRole == GraphFileFilter::FileRole::Source ? "source" : "sink"}, {"path", f.filePath}};
    json params = json::array();
    // JSON strings hold UTF-8 text only: any other value is written as base64 so that no byte is
    // replaced.
    for (const auto& [name, value] : f.parameters)
      params.push_back(json{{"name", name}, {IsUtf8(value) ? "value" : "value_base64",
                                             IsUtf8(value) ? value : Base64Encode(value)}});
    j["parameters"] = std::move(params);
    if (f.hasPersist) j["persist"] = Base64Encode(f.persist);
    filters.push_back(std::move(j));
  }
  json connections = json::array();
  for (const GraphFileConnection& c : file.connections)
    connections.push_back(json{{"from", json{{"filter", c.outFilter}, {"pin", c.outPin}}},
                               {"to", json{{"filter", c.inFilter}, {"pin", c.inPin}}},
                               {"media_type", MediaTypeJson(c.mediaType)}});
  json root{{"format", kFormat}, {"version", kVersion}, {"filters", std::move(filters)}, {"connections", std::move(connections)}};
  // Invalid UTF-8 in a name or path is replaced rather than refused: the file stays readable.
  return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool ParseGraphFile(const std::string& text, GraphFile* file, std::string* error) {
  *file = GraphFile();
  try {
    json root = json::parse(text);
    if (ParseJson(root, file, error)) return true;
  } catch (const json::exception& e) {
    std::string what = e.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..." -> from "parse error".
    size_t p = what.find("] ");
    *error = "not valid JSON: " + (p == std::string::npos ? what : what.substr(p + 2));
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
  }
  *file = GraphFile();
  return false;
}

HRESULT BuildGraphFromFile(const GraphFile& file, IGraphBuilder* graph, const GraphParameterWriter& writeParameter,
                           std::string* error) {
  try {
    std::map<std::string, ComPtr<IBaseFilter>> byName;
    for (size_t i = 0; i < file.filters.size(); ++i) {
      const GraphFileFilter& f = file.filters[i];
      const std::string where = "filter '" + f.name + "' " + GuidToString(f.clsid);
      ComPtr<IBaseFilter> filter;
      HRESULT hr = CoCreateInstance(f.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut());
      if (FAILED(hr)) {
        *error = where + (f.displayName.empty() ? "" : " (" + f.displayName + ")") + ": cannot create it, " +
                 ResultText(hr) + "; register its module";
        return hr;
      }
      if (FAILED(hr = graph->AddFilter(filter.Get(), Utf8ToWide(f.name).c_str()))) {
        *error = where + ": cannot add it to the graph, " + ResultText(hr);
        return hr;
      }
      if (f.fileRole != GraphFileFilter::FileRole::None) {
        std::wstring path = Utf8ToWide(f.filePath);
        if (f.fileRole == GraphFileFilter::FileRole::Source) {
          ComPtr<IFileSourceFilter> src;
          hr = filter->QueryInterface(IID_IFileSourceFilter, src.AsOut());
          if (SUCCEEDED(hr)) hr = src->Load(path.c_str(), nullptr);
        } else {
          ComPtr<IFileSinkFilter> sink;
          hr = filter->QueryInterface(IID_IFileSinkFilter, sink.AsOut());
          if (SUCCEEDED(hr)) hr = sink->SetFileName(path.c_str(), nullptr);
        }
        if (FAILED(hr)) {
          *error = where + ": cannot open the file " + f.filePath + ", " + ResultText(hr);
          return hr;
        }
      }
      for (const auto& [name, value] : f.parameters) {
        std::string why;
        hr = writeParameter ? writeParameter(filter.Get(), name, value, &why) : E_NOTIMPL;
        if (FAILED(hr)) {
          *error = where + ": parameter '" + name + "' = '" + PrintableBytes(value) + "': " +
                   (why.empty() ? ResultText(hr) : why);
          return hr;
        }
      }
      if (f.hasPersist) {
        ComPtr<IPersistStream> persist;
        ComPtr<IStream> stream;
        hr = filter->QueryInterface(IID_IPersistStream, persist.AsOut());
        if (FAILED(hr)) {
          *error = where + ": the file holds a persisted record but the filter has no IPersistStream, " + ResultText(hr);
          return hr;
        }
        if (SUCCEEDED(hr = CreateStreamOnMemory(f.persist.data(), static_cast<ULONG>(f.persist.size()), &stream)))
          hr = persist->Load(stream.Get());
        if (FAILED(hr)) {
          *error = where + ": its persisted record (" + std::to_string(f.persist.size()) + " bytes) was refused, " +
                   ResultText(hr);
          return hr;
        }
      }
      byName[f.name] = filter;
    }
    for (size_t i = 0; i < file.connections.size(); ++i) {
      const GraphFileConnection& c = file.connections[i];
      const std::string where = "connection " + std::to_string(i + 1) + " '" + c.outFilter + "' pin '" + c.outPin +
                                "' -> '" + c.inFilter + "' pin '" + c.inPin + "'";
      ComPtr<IPin> out, in;
      HRESULT hr = byName[c.outFilter]->FindPin(Utf8ToWide(c.outPin).c_str(), &out);
      if (SUCCEEDED(hr)) hr = byName[c.inFilter]->FindPin(Utf8ToWide(c.inPin).c_str(), &in);
      if (FAILED(hr) || !out || !in) {
        *error = where + ": no such pin, " + ResultText(FAILED(hr) ? hr : VFW_E_NOT_FOUND);
        return FAILED(hr) ? hr : VFW_E_NOT_FOUND;
      }
      const GraphFileMediaType& t = c.mediaType;
      AM_MEDIA_TYPE mt{};
      mt.majortype = t.majorType;
      mt.subtype = t.subType;
      mt.formattype = t.formatType;
      mt.bFixedSizeSamples = t.fixedSizeSamples;
      mt.bTemporalCompression = t.temporalCompression;
      mt.lSampleSize = t.sampleSize;
      mt.cbFormat = static_cast<ULONG>(t.format.size());
      mt.pbFormat = mt.cbFormat ? reinterpret_cast<BYTE*>(const_cast<char*>(t.format.data())) : nullptr;
      hr = graph->ConnectDirect(out.Get(), in.Get(), &mt);
      if (FAILED(hr)) {
        // A filter that changes the type it hands downstream (FrameDropFilter lowers the frame
        // rate in it) may refuse being offered that changed type, which is the one saved: the pins
        // then agree on a type themselves, and the connection stands only when that is exactly
        // the saved type.
        if (SUCCEEDED(graph->ConnectDirect(out.Get(), in.Get(), nullptr))) {
          if (ConnectedAsSaved(out.Get(), t)) continue;
          graph->Disconnect(out.Get());
          graph->Disconnect(in.Get());
        }
        *error = where + ": refused the saved type " + DescribeMediaType(mt) + ", " + ResultText(hr) +
                 "; the file or a filter's settings no longer match";
        return hr;
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return E_OUTOFMEMORY;
  }
}

}  // namespace plenor::graph
