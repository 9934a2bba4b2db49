// Runs (or checks) one line of the control language against a simulator.
#include <algorithm>
#include <cstdio>

#include "command_syntax.hpp"
#include "lyx/sim/control.hpp"
#include "lyx/sim/replay.hpp"
#include "lyx/sim/simulator.hpp"

namespace lyx::sim {

using syntax::Line;

namespace {

Reply ok(std::string text = {}) {
    return {true, text.empty() ? "ok" : "ok " + text, Reply::Action::None, {}};
}

Reply fail(const std::string &message) {
    return {false, "error: " + message, Reply::Action::None, {}};
}

Reply fail(const Outcome &outcome) {
    return fail(outcome.error());
}

std::string yesNo(bool b) {
    return b ? "yes" : "no";
}

std::string revision(std::uint16_t release) {
    char text[16];
    std::snprintf(text, sizeof text, "%x.%x", release >> 8, release & 0xFF);
    return text;
}

std::string describe(const StationStatus &s) {
    const StationConfig &c = s.config;
    std::string out = "station " + std::to_string(c.number) +
                      " channel=" + std::to_string(c.channel) + " id=" + std::to_string(c.id) +
                      " plugged=" + yesNo(s.pluggedIn);
    if (c.usb) {
        out += " usb=" + (s.usbSocket.empty() ? std::string("-") : s.usbSocket) +
               " serial=" + (c.serial.empty() ? std::to_string(c.number) : c.serial) +
               " release=" + revision(c.release);
    }
    if (c.serialPort) {
        out += " pty=" + (s.ptyDevice.empty() ? std::string("-") : s.ptyDevice);
        if (!s.comEntry.empty()) out += " com=" + s.comEntry;
    }
    out += " bind=" + std::string(s.bindWaiting ? "waiting" : "no") +
           " sent=" + std::to_string(s.framesSent) +
           " received=" + std::to_string(s.framesReceived);
    return out;
}

std::string typeName(const ModuleConfig &c) {
    switch (c.layout) {
        case Layout::Record:
            return "record";
        case Layout::StoreForward:
            return "store-forward";
        default:
            return dataTypeName(c.type);
    }
}

std::string describe(const ModuleStatus &m) {
    const ModuleConfig &c = m.config;
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", c.rate);
    std::string state = !c.poweredOn          ? "off"
                        : m.asleep            ? "asleep"
                        : m.configurationMode ? "configuration"
                        : m.paused            ? "paused"
                                              : "awake";
    return "module " + std::to_string(c.id) + " tag=" + std::to_string(c.tag) +
           " channel=" + std::to_string(c.channel) + " type=" + typeName(c) +
           " wave=" + shapeName(c.wave.shape) + " rate=" + rate + " state=" + state +
           " battery=" + (c.batteryLow ? "low" : "ok") + " error=" + yesNo(c.error) +
           " packets=" + std::to_string(m.packetsSent) +
           (m.station >= 0 ? " replayed-by-station=" + std::to_string(m.station) : std::string());
}

std::string seconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3fs", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string filesShown(const std::vector<std::string> &files) {
    if (files.empty()) return "-";
    if (files.size() == 1) return files[0];
    return files[0] + " and " + std::to_string(files.size() - 1) + " more files";
}

std::string describe(const ReplayStatus &r) {
    const std::string state = r.running ? "running" : r.stopped ? "stopped" : "ended";
    std::string out =
        "replay " + state + " position=" + seconds(r.position) + " end=" + seconds(r.end) +
        " row=" + std::to_string(r.row) + "/" + std::to_string(r.rows) +
        " speed=" + decimal(r.settings.speed) + " loop=" + yesNo(r.settings.loop) +
        " loops=" + std::to_string(r.loops) + " sent=" + std::to_string(r.sent) +
        " quiet=" + std::to_string(r.quiet) + " unheard=" + std::to_string(r.unheard) +
        " max-lag-us=" + std::to_string(r.maxLag.count()) + " files=" + filesShown(r.files);
    return out;
}

// The numeric argument after the verb.
Outcome argument(const Line &line, std::size_t index, const char *what) {
    if (line.words.size() <= index) {
        return Outcome::failure(line.words[0] + ": missing " + what);
    }
    return {};
}

Outcome stationNumber(const Line &line, int &number) {
    if (auto ok = argument(line, 1, "station number"); !ok) return ok;
    std::uint64_t n = 0;
    if (!syntax::parseUnsigned(line.words[1], 255, n)) {
        return Outcome::failure("expected a station number 0 to 255, not '" + line.words[1] + "'");
    }
    number = static_cast<int>(n);
    return {};
}

Outcome moduleId(const Line &line, std::uint32_t &id) {
    if (auto ok = argument(line, 1, "module ID"); !ok) return ok;
    return syntax::parseModuleId(line.words[1], id);
}

Outcome noExtraWords(const Line &line, std::size_t expected) {
    if (line.words.size() > expected) {
        return Outcome::failure(line.words[0] + ": unexpected '" + line.words[expected] + "'");
    }
    return {};
}

Outcome noOptions(const Line &line) {
    if (!line.options.empty()) {
        return Outcome::failure(line.words[0] + ": unexpected option '" +
                                line.options.front().first + "'");
    }
    return {};
}

}  // namespace

Interpreter::Interpreter(Simulator *simulator, ControlSettings settings)
    : simulator_(simulator), settings_(std::move(settings)) {}

std::optional<ModuleConfig> Interpreter::moduleConfig(std::uint32_t id) const {
    if (simulator_ != nullptr) {
        if (auto m = simulator_->module(id)) return m->config;
        return std::nullopt;
    }
    auto found = checkedModules_.find(id);
    if (found == checkedModules_.end()) return std::nullopt;
    return found->second;
}

bool Interpreter::hasStation(int number) const {
    return simulator_ != nullptr ? simulator_->station(number).has_value()
                                 : checkedStations_.contains(number);
}

Reply Interpreter::execute(std::string_view text) {
    Line line;
    if (auto ok = syntax::tokenize(text, line); !ok) return fail(ok);
    if (line.empty()) return ok();
    if (line.words.empty()) return fail("a line starts with a command, not an option");
    const std::string &verb = line.words[0];
    if (verb == "station") return station(line);
    if (verb == "module") return module(line);
    if (verb == "set") return set(line);
    if (verb == "param") return param(line);
    if (verb == "remove" || verb == "powerup" || verb == "powerdown") return byModule(line);
    if (verb == "unplug" || verb == "plug") return byStation(line);
    if (verb == "fault") return fault(line);
    if (verb == "send") return sendFrame(line);
    if (verb == "replay") return replay(line);
    if (verb == "show") return show(line);
    if (verb == "watch") {
        if (auto ok = noOptions(line); !ok) return fail(ok);
        if (line.words.size() != 2) return fail("watch: expected on, off or data");
        Reply r = ok("watch " + line.words[1]);
        if (line.words[1] == "on") {
            r.action = Reply::Action::WatchOn;
        } else if (line.words[1] == "off") {
            r.action = Reply::Action::WatchOff;
        } else if (line.words[1] == "data") {
            r.action = Reply::Action::WatchData;
        } else {
            return fail("watch: expected on, off or data");
        }
        return r;
    }
    if (verb == "quit" || verb == "exit") {
        Reply r = ok("bye");
        r.action = Reply::Action::Quit;
        return r;
    }
    if (verb == "help") {
        return ok(
            "commands: station module set param remove powerup powerdown unplug plug fault "
            "send replay show watch quit (lyx-basestation-sim --help describes them)");
    }
    if (verb == "wait") return fail("wait: only in scenario files");
    return fail("unknown command '" + verb + "' (try help)");
}

Reply Interpreter::station(const Line &line) {
    int number = 0;
    if (auto ok = stationNumber(line, number); !ok) return fail(ok);
    if (hasStation(number)) {
        // An existing station: what a client could change remotely, and the
        // parameters it refuses.
        const std::string onlyThese = "station " + std::to_string(number) +
                                      " exists: only channel=, id= and refuse= can change";
        if (auto ok = noExtraWords(line, 2); !ok) return fail(onlyThese);
        StationConfig scratch;
        for (const auto &[key, value] : line.options) {
            if (key != "channel" && key != "id" && key != "refuse") return fail(onlyThese);
            if (auto ok = syntax::applyStationOption(scratch, key, value); !ok) return fail(ok);
        }
        for (const auto &[key, value] : line.options) {
            if (simulator_ == nullptr) break;
            Outcome done =
                key == "channel" ? simulator_->setStationChannel(number, scratch.channel)
                : key == "id"    ? simulator_->setStationId(number, scratch.id)
                              : simulator_->setRefusedParameters(number, scratch.refusedParameters);
            if (!done) return fail(done);
        }
        if (simulator_ == nullptr) return ok();
        return ok(describe(*simulator_->station(number)));
    }

    StationConfig config;
    config.number = number;
    config.usbFolder = settings_.usbFolder;
    config.portFolder = settings_.portFolder;
    for (std::size_t i = 2; i < line.words.size(); ++i) {
        const std::string &w = line.words[i];
        if (w == "usb" || w == "vhid") {
            config.usb = true;
        } else if (w == "serial" || w == "pty") {
            config.serialPort = true;
        } else {
            return fail("station: unexpected '" + w + "' (usb or serial)");
        }
    }
    for (const auto &[key, value] : line.options) {
        if (auto ok = syntax::applyStationOption(config, key, value); !ok) return fail(ok);
    }
    // Without a choice: the virtual HID bus when there is a folder for it, else
    // a pseudo-terminal.
    if (!config.usb && !config.serialPort) {
        config.usb = !config.usbFolder.empty();
        config.serialPort = !config.usb;
    }
    if (auto ok = validate(config); !ok) return fail(ok);
    if (simulator_ == nullptr) {
        checkedStations_.insert(number);
        return ok();
    }
    if (auto done = simulator_->addStation(config); !done) return fail(done);
    return ok(describe(*simulator_->station(number)));
}

Reply Interpreter::module(const Line &line) {
    std::uint32_t id = 0;
    if (auto ok = moduleId(line, id); !ok) return fail(ok);
    if (auto ok = noExtraWords(line, 2); !ok) return fail(ok);
    if (moduleConfig(id)) {
        return fail("module " + std::to_string(id) + " exists (change it with set)");
    }
    ModuleConfig config;
    config.id = id;
    config.tag = static_cast<std::uint16_t>(id & 0xFFFF) == kAllTags
                     ? 1
                     : static_cast<std::uint16_t>(id & 0xFFFF);
    auto options = line.options;
    syntax::sortTypeFirst(options);
    for (const auto &[key, value] : options) {
        if (auto ok = syntax::applyModuleOption(config, key, value); !ok) return fail(ok);
    }
    if (auto ok = validate(config); !ok) return fail(ok);
    if (simulator_ == nullptr) {
        checkedModules_[id] = config;
        return ok();
    }
    if (auto done = simulator_->addModule(config); !done) return fail(done);
    return ok(describe(*simulator_->module(id)));
}

Reply Interpreter::set(const Line &line) {
    std::uint32_t id = 0;
    if (auto ok = moduleId(line, id); !ok) return fail(ok);
    if (auto ok = noExtraWords(line, 2); !ok) return fail(ok);
    auto current = moduleConfig(id);
    if (!current) return fail("no module " + std::to_string(id));
    auto options = line.options;
    syntax::sortTypeFirst(options);
    std::optional<bool> asleep;
    std::optional<bool> configuration;
    ModuleConfig changed = *current;
    for (const auto &[key, value] : options) {
        if (key == "asleep" || key == "config") {
            bool on = false;
            if (!syntax::parseSwitch(value, on))
                return fail(key + "=" + value + ": expected yes or no");
            (key == "asleep" ? asleep : configuration) = on;
            continue;
        }
        if (auto ok = syntax::applyModuleOption(changed, key, value); !ok) return fail(ok);
    }
    if (auto ok = validate(changed); !ok) return fail(ok);
    if (simulator_ == nullptr) {
        checkedModules_[id] = changed;
        return ok();
    }
    // Applied to the module as it is now (pairing may have moved it since it
    // was read above); the options are checked again on that.
    Outcome applied;
    Outcome done = simulator_->updateModule(id, [&](ModuleConfig &c) {
        ModuleConfig next = c;
        for (const auto &[key, value] : options) {
            if (key == "asleep" || key == "config") continue;
            if (auto ok = syntax::applyModuleOption(next, key, value); !ok) {
                applied = ok;
                return;
            }
        }
        c = next;
    });
    if (!applied) return fail(applied);
    if (!done) return fail(done);
    if (configuration) {
        if (auto r = simulator_->setConfigurationMode(id, *configuration); !r) return fail(r);
    }
    if (asleep) {
        if (auto r = simulator_->setAsleep(id, *asleep); !r) return fail(r);
    }
    return ok(describe(*simulator_->module(id)));
}

Reply Interpreter::param(const Line &line) {
    std::uint32_t id = 0;
    if (auto ok = moduleId(line, id); !ok) return fail(ok);
    if (auto ok = argument(line, 2, "parameter number"); !ok) return fail(ok);
    std::uint64_t number = 0;
    if (!syntax::parseUnsigned(line.words[2], 255, number)) {
        return fail("expected a parameter number 0 to 255, not '" + line.words[2] + "'");
    }
    bool radio = false;
    std::optional<Parameter::Access> access;
    for (std::size_t i = 3; i < line.words.size(); ++i) {
        if (line.words[i] == "radio") {
            radio = true;
        } else if (line.words[i] == "readonly") {
            access = Parameter::Access::ReadOnly;
        } else {
            return fail("param: unexpected '" + line.words[i] + "' (radio or readonly)");
        }
    }
    auto current = moduleConfig(id);
    if (!current) return fail("no module " + std::to_string(id));
    const auto &table = radio ? current->radioParameters : current->parameters;
    auto found = table.find(static_cast<std::uint8_t>(number));
    bool hasType = false;
    for (const auto &[key, value] : line.options)
        hasType = hasType || key == "type";
    if (found == table.end() && !hasType) return fail("param: a new parameter needs type=");
    Parameter parameter = found == table.end() ? Parameter{} : found->second;
    if (access) parameter.access = *access;
    auto options = line.options;
    syntax::sortTypeFirst(options);
    for (const auto &[key, value] : options) {
        if (auto ok = syntax::applyParameterOption(parameter, key, value); !ok) return fail(ok);
    }
    if (auto ok = validate(parameter); !ok) return fail(ok);
    if (simulator_ == nullptr) {
        auto &t = radio ? checkedModules_[id].radioParameters : checkedModules_[id].parameters;
        t[static_cast<std::uint8_t>(number)] = parameter;
        return ok();
    }
    if (auto done =
            simulator_->setParameter(id, static_cast<std::uint8_t>(number), parameter, radio);
        !done) {
        return fail(done);
    }
    return ok("module " + std::to_string(id) + (radio ? " radio" : "") + " parameter " +
              std::to_string(number) + " " + dataTypeName(parameter.value.type) + " " +
              parameter.value.text());
}

Reply Interpreter::byModule(const Line &line) {
    std::uint32_t id = 0;
    if (auto ok = moduleId(line, id); !ok) return fail(ok);
    if (auto ok = noExtraWords(line, 2); !ok) return fail(ok);
    if (auto ok = noOptions(line); !ok) return fail(ok);
    const std::string &verb = line.words[0];
    if (simulator_ == nullptr) {
        if (!checkedModules_.contains(id)) return fail("no module " + std::to_string(id));
        if (verb == "remove") checkedModules_.erase(id);
        return ok();
    }
    Outcome done = verb == "remove"    ? simulator_->removeModule(id)
                   : verb == "powerup" ? simulator_->powerUp(id)
                                       : simulator_->powerDown(id);
    if (!done) return fail(done);
    return ok(verb == "remove" ? "removed " + std::to_string(id)
                               : describe(*simulator_->module(id)));
}

Reply Interpreter::byStation(const Line &line) {
    int number = 0;
    if (auto ok = stationNumber(line, number); !ok) return fail(ok);
    if (auto ok = noExtraWords(line, 2); !ok) return fail(ok);
    if (auto ok = noOptions(line); !ok) return fail(ok);
    if (!hasStation(number)) return fail("no station " + std::to_string(number));
    if (simulator_ == nullptr) return ok();
    Outcome done =
        line.words[0] == "unplug" ? simulator_->unplug(number) : simulator_->plugIn(number);
    if (!done) return fail(done);
    return ok(describe(*simulator_->station(number)));
}

Reply Interpreter::fault(const Line &line) {
    int number = 0;
    if (auto ok = stationNumber(line, number); !ok) return fail(ok);
    if (auto ok = noExtraWords(line, 2); !ok) return fail(ok);
    if (!hasStation(number)) return fail("no station " + std::to_string(number));
    Faults faults;
    if (simulator_ != nullptr) faults = simulator_->station(number)->config.faults;
    syntax::OneShots once;
    for (const auto &[key, value] : line.options) {
        if (auto ok = syntax::applyFaultOption(faults, once, key, value); !ok) return fail(ok);
    }
    if (auto ok = validate(faults); !ok) return fail(ok);
    if (simulator_ == nullptr) return ok();
    if (auto done = simulator_->setFaults(number, faults); !done) return fail(done);
    if (once.corruptNext) (void)simulator_->corruptNext(number, *once.corruptNext);
    if (once.dropNext) (void)simulator_->dropNext(number, *once.dropNext);
    if (once.loseReplies) (void)simulator_->loseNextReplies(number, *once.loseReplies);
    char text[160];
    std::snprintf(text, sizeof text,
                  "station %d corrupt=%g drop=%g noise=%u zeros=%u reply-delay=%lldms "
                  "reply-loss=%g",
                  number, faults.corrupt, faults.drop, faults.noise, faults.zeros,
                  static_cast<long long>(faults.replyDelay.count()), faults.replyLoss);
    return ok(text);
}

Reply Interpreter::sendFrame(const Line &line) {
    int number = 0;
    if (auto ok = stationNumber(line, number); !ok) return fail(ok);
    if (auto ok = noOptions(line); !ok) return fail(ok);
    std::string hex;
    for (std::size_t i = 2; i < line.words.size(); ++i)
        hex += line.words[i];
    auto payload = parseValue(DataType::Binary, hex);
    if (!payload || payload->bytes.empty() || payload->bytes.size() > 255) {
        return fail("send: expected the payload as 1 to 255 hexadecimal bytes");
    }
    if (!hasStation(number)) return fail("no station " + std::to_string(number));
    if (simulator_ == nullptr) return ok();
    if (auto done = simulator_->sendFrame(number, payload->bytes); !done) return fail(done);
    return ok("station " + std::to_string(number) + " sent " + payload->text());
}

Reply Interpreter::show(const Line &line) {
    if (auto ok = noOptions(line); !ok) return fail(ok);
    if (simulator_ == nullptr) return ok();
    const std::string what = line.words.size() > 1 ? line.words[1] : "all";
    auto join = [](const auto &items) {
        std::string out;
        for (const auto &i : items) {
            if (!out.empty()) out += ' ';
            out += std::to_string(i);
        }
        return out.empty() ? std::string("none") : out;
    };
    if (what == "all" && line.words.size() <= 2) {
        std::string text =
            "stations " + join(simulator_->stations()) + "; modules " + join(simulator_->modules());
        if (auto r = simulator_->replay()) {
            text += "; replay " + std::string(r->running ? "at " : "ended at ") +
                    seconds(r->position) + " of " + seconds(r->end);
        }
        return ok(text);
    }
    if (what == "replay" && line.words.size() == 2) {
        auto r = simulator_->replay();
        if (!r) return fail("no replay has run");
        return ok(describe(*r));
    }
    if (what == "stations" && line.words.size() == 2) return ok(join(simulator_->stations()));
    if (what == "modules" && line.words.size() == 2) return ok(join(simulator_->modules()));
    if (what == "stats" && line.words.size() == 2) {
        Stats s = simulator_->stats();
        return ok("ticks=" + std::to_string(s.ticks) + " late=" + std::to_string(s.late) +
                  " max-lag-us=" + std::to_string(s.maxLag.count()) +
                  " frames=" + std::to_string(s.framesSent) +
                  " output-dropped=" + std::to_string(s.outputDropped));
    }
    if (what == "station" && line.words.size() == 3) {
        Line rest;
        rest.words = {"show", line.words[2]};
        int number = 0;
        if (auto ok = stationNumber(rest, number); !ok) return fail(ok);
        auto s = simulator_->station(number);
        if (!s) return fail("no station " + std::to_string(number));
        return ok(describe(*s));
    }
    if (what == "module" && line.words.size() == 3) {
        std::uint32_t id = 0;
        if (auto ok = syntax::parseModuleId(line.words[2], id); !ok) return fail(ok);
        auto m = simulator_->module(id);
        if (!m) return fail("no module " + std::to_string(id));
        return ok(describe(*m));
    }
    return fail("show: expected stations, modules, station <n>, module <id>, stats or replay");
}

Reply Interpreter::replay(const Line &line) {
    if (line.words.size() == 2 && line.words[1] == "stop") {
        if (auto ok = noOptions(line); !ok) return fail(ok);
        if (simulator_ == nullptr) return ok();
        if (auto done = simulator_->stopReplay(); !done) return fail(done);
        return ok(describe(*simulator_->replay()));
    }
    std::vector<std::string> words;
    std::optional<bool> usb;
    for (std::size_t i = 1; i < line.words.size(); ++i) {
        const std::string &w = line.words[i];
        if (w == "usb" || w == "serial") {
            usb = w == "usb";
        } else {
            words.push_back(w);
        }
    }
    if (words.empty()) return fail("replay: expected the files of a recording, or stop");
    ReplaySettings settings;
    RecordingOptions reading;
    std::optional<std::string> from;
    std::optional<std::string> to;
    StationConfig made;  // for stations the replay makes
    made.usbFolder = settings_.usbFolder;
    made.portFolder = settings_.portFolder;
    for (const auto &[key, value] : line.options) {
        if (key == "speed") {
            if (!syntax::parseNumber(value, settings.speed) || settings.speed < 0 ||
                settings.speed > 10000) {
                return fail("speed=" + value +
                            ": expected a factor up to 10000 (2: twice as fast), or 0 for as "
                            "fast as the link takes the packets");
            }
        } else if (key == "loop" || key == "skip-bad") {
            bool on = false;
            if (!syntax::parseSwitch(value, on))
                return fail(key + "=" + value + ": expected yes or no");
            (key == "loop" ? settings.loop : reading.skipBad) = on;
        } else if (key == "from") {
            from = value;
        } else if (key == "to") {
            to = value;
        } else if (key == "channel" || key == "vhid-dir" || key == "port-dir") {
            if (auto ok = syntax::applyStationOption(made, key, value); !ok) return fail(ok);
        } else {
            return fail("unknown option '" + key + "' for replay");
        }
    }

    // The recording: read by the checker before, or read now.
    std::vector<std::string> files;
    if (auto ok = expandFiles(words, files); !ok) return fail(ok);
    std::string key = reading.skipBad ? "skip-bad" : "";
    for (const auto &f : files)
        key += "\n" + f;
    std::shared_ptr<const Recording> recording;
    if (settings_.recordings) {
        auto &cache = settings_.recordings->byFiles;
        if (auto found = cache.find(key); found != cache.end()) {
            recording = found->second;
            if (simulator_ != nullptr) cache.erase(found);
        }
    }
    if (!recording) {
        auto read = std::make_shared<Recording>();
        if (auto ok = readRecording(files, reading, *read); !ok) return fail(ok);
        recording = read;
        if (simulator_ == nullptr && settings_.recordings)
            settings_.recordings->byFiles[key] = read;
    }

    const auto when = [&](const std::string &name, const std::string &text,
                          std::int64_t &out) -> Outcome {
        if (auto ok = parseRecordingTime(text, *recording, out); !ok) {
            return Outcome::failure(name + "=" + text + ": " + ok.error());
        }
        return {};
    };
    if (from) {
        if (auto ok = when("from", *from, settings.from); !ok) return fail(ok);
        if (settings.from > recording->span()) {
            return fail("from=" + *from + ": after the recording's last row (at " +
                        seconds(recording->span()) + ")");
        }
    }
    if (to) {
        std::int64_t end = 0;
        if (auto ok = when("to", *to, end); !ok) return fail(ok);
        if (end < settings.from) return fail("to=" + *to + ": before from=");
        settings.to = end;
    }
    const auto &rows = recording->rows;
    const auto first = std::ranges::lower_bound(rows, settings.from, {}, &RecordedRow::at);
    if (first == rows.end() || (settings.to && first->at > *settings.to)) {
        return fail("no row of the recording lies between from= and to=");
    }

    // Its stations: those that exist are used as they are; others are made.
    const std::vector<int> stations = recording->stations();
    std::vector<StationConfig> toMake;
    for (int number : stations) {
        if (hasStation(number)) continue;
        StationConfig config = made;
        config.number = number;
        config.usb = usb ? *usb : !config.usbFolder.empty();
        config.serialPort = !config.usb;
        if (config.serialPort && number >= 1 && !config.portFolder.empty()) config.com = number;
        if (auto ok = validate(config); !ok)
            return fail("station " + std::to_string(number) + ": " + ok.error());
        toMake.push_back(config);
    }
    const auto counted = [](std::size_t n, const char *what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string text = "replay " + filesShown(recording->files) + ": " +
                       counted(recording->rows.size(), "row") + " of " +
                       counted(recording->modules.size(), "module") + ", " +
                       seconds(recording->span()) + ", speed " + decimal(settings.speed) +
                       (settings.loop ? ", looping" : "");
    Reply reply;
    if (simulator_ == nullptr) {
        for (const auto &config : toMake)
            checkedStations_.insert(config.number);
        for (std::uint32_t id : checkedReplayModules_)
            checkedModules_.erase(id);
        checkedReplayModules_ = replayModuleIds(
            *recording, [&](std::uint32_t id) { return checkedModules_.contains(id); });
        for (std::size_t i = 0; i < checkedReplayModules_.size(); ++i) {
            ModuleConfig config;
            config.id = checkedReplayModules_[i];
            config.tag = recording->modules[i].tag;
            config.type = recording->modules[i].type;
            config.rate = 0;
            checkedModules_[config.id] = config;
        }
        reply = ok(text);
    } else {
        for (const auto &config : toMake) {
            if (auto done = simulator_->addStation(config); !done) {
                return fail("station " + std::to_string(config.number) + ": " + done.error());
            }
            text += "; made " + describe(*simulator_->station(config.number));
        }
        if (auto done = simulator_->startReplay(recording, settings); !done) return fail(done);
        const auto status = simulator_->replay();
        std::string ids;
        for (std::size_t i = 0; i < status->moduleIds.size(); ++i) {
            ids += (i == 0 ? "" : " ") + std::to_string(recording->modules[i].station) + "/" +
                   std::to_string(recording->modules[i].tag) + "=" +
                   std::to_string(status->moduleIds[i]);
        }
        reply = ok(text + "; modules (station/tag=ID) " + ids);
    }
    for (const auto &w : recording->warnings)
        reply.warnings.push_back(w);
    return reply;
}

}  // namespace lyx::sim
