#!/usr/bin/env python3
"""Planted faults: applies each mutation below to a scratch copy of the tree, rebuilds, runs the
unit tests (and with --end-to-end, for faults in app/ and session/, the acceptance suite) and
reports which tests fail. Driven by scripts/planted-faults.sh."""
import argparse, json, os, re, shutil, subprocess, sys, time

# (id, file, exact snippet that must occur once, replacement, what the fault is)
W, ENC, DET, PAR = "csv/src/csv_writer.cpp", "csv/src/string_encoding.cpp", \
    "csv/src/encoding_detection.cpp", "csv/src/csv_parser.cpp"
CLEAN, TOK, DOC, DEC = "csv/src/field_cleanup.cpp", "csv/src/tokenizer.cpp", \
    "csv/src/csv_document.cpp", "csv/src/decoder.cpp"
SCAN = "csv/src/byte_scan.cpp"
TOOL, LOG, STORE = "session/src/tool.cpp", "session/src/csv_file.cpp", \
    "session/src/sqlite_settings_store.cpp"
PAGE, START = "app/page_controller.cpp", "app/start_controller.cpp"
PASSCODE, EXPORT = "session/src/passcode.cpp", "session/src/results_export.cpp"
RULES, VALUES = "csv/src/text_rules.cpp", "session/src/stored_values.cpp"
TOOLPAGE, SCROLL = "app/tool_page_controller.cpp", "app/platform/scroll_view.cpp"
CSVTOOL, GRAPHEME = "tools/quorin_csv_tool.cpp", "csv/src/grapheme.cpp"
READING, ALERT = "app/platform/reading_order.cpp", "app/platform/alert.cpp"
SPEECH = "app/platform/speech.cpp"
MUTATIONS = [
    ("w-hash", W, "n > 0 && (p[0] == '#'", "n > 1 && (p[0] == '#'",
     "writer: a lone # field is not quoted"),
    ("w-backslash", W, "if (c == '\"' || c == '\\\\') *end++ = c;", "if (c == '\"') *end++ = c;",
     "writer: backslashes not doubled"),
    ("w-cr", W, "{'\\n', '\\v', '\\f', '\\r', '\"', '\\\\'}", "{'\\n', '\\v', '\\f', '\"', '\\\\'}",
     "writer: CR does not force quotes"),
    ("w-u2029", W, "text.starts_with(\"\\xE2\\x80\\xA8\") || text.starts_with(\"\\xE2\\x80\\xA9\")",
     "text.starts_with(\"\\xE2\\x80\\xA8\")", "writer: U+2029 is no line break"),
    ("r-delim-hash", RULES, "c != '\"' && c != '#' &&", "c != '\"' &&",
     "text rules: # accepted as delimiter"),
    ("w-leading-mark", W, "p[0] == '\\0' || startsWithJoiningCharacter(text) ||",
     "p[0] == '\\0' ||", "writer: a field starting with a mark is not quoted"),
    ("w-lone-empty", W, "if (currentField_ == 1 && onlyFieldEmpty_) writeString(\"\\\"\\\"\");", "",
     "writer: a row of one empty field is written as a blank line"),
    ("w-comment-blank", W, "  if (lineEndsInARow_ == 2) {", "  if (false) {",
     "writer: a comment after an empty line is written, to be read back as a row"),
    ("w-delimiter-lost", W, "endPiece(buffer) || !file_->encoder",
     "endPiece(buffer) || file_->encoder",
     "writer: a delimiter the encoding cannot hold is left out, merging the fields"),
    ("p-cancel-hides", PAR, "if (!core_->error_) core_->error_ =", "core_->error_ =",
     "parser: a cancellation hides the failure being reported"),
    ("s-empty-header", LOG, "!missing.empty() && status.st_size == static_cast<off_t>(cut)",
     "false", "results log: rows appended to an emptied file without the header"),
    ("w-leading-bom", W, "text.starts_with(\"\\uFEFF\") || ", "",
     "writer: a leading U+FEFF is written bare"),
    ("w-leading-nul", W, " || p[0] == '\\0'", "", "writer: a leading NUL is written bare"),
    ("w-prepend-space", W, "  if (endsWithPrepend(text)) *end++ = ' ';\n", "",
     "writer: a trailing Prepend swallows the closing quote"),
    ("w-open-file", "csv/src/durable_file.cpp", "if (real.starts_with(\"/proc/\")) {",
     "if (false) {", "durable files: /dev/stdout replaced by a file"),
    ("w-comment-quote", W, "writeString(\"\\\\\");", "",
     "writer: a quote in a comment breaks the document"),
    ("w-keep-mode", W, "!f.atomic->setMode(old.st_mode)) {", "!f.atomic->setMode(0666)) {",
     "writer: atomic replace loses the file mode"),
    ("w-plain-mode", W, "    if (f.fd >= 0 && old.mode) (void)::fchmod(f.fd, *old.mode & 07777);\n", "",
     "writer: a replaced file loses its permissions"),
    ("w-comment-break", W, "if (currentField_ > 0) writeLinePieces();",
     "if (currentField_ > 1) writeLinePieces();", "writer: comment after one field shares its line"),
    ("w-truncate", W, "const int cut = ::ftruncate(f.fd, f.committed);", "const int cut = 0;",
     "writer: failed write leaves a torn block"),
    ("w-buffered", W, "if (!file_->buffered || file_->pending.size() >= kBlockSize)",
     "if (file_->buffered || file_->pending.size() >= kBlockSize)",
     "writer: buffering flag inverted"),
    ("e-read-back", "csv/src/decoder.cpp",
     "if (readsBackAs(std::string_view(out).substr(start), utf8)) return true;", "return true;",
     "encoder: a character written as one the reader reads as another"),
    ("e-ascii-block", DEC, "p[i - 2] >= 0xE0 || p[i - 3] >= 0xF0)) break;", "p[i - 2] >= 0xE0)) break;",
     "validator: a four-byte sequence cut short before an ASCII block passes"),
    ("e-ef-utf8", "csv/src/encoding_detection.cpp", "      if (utf8) break;\n", "",
     "detection: UTF-8 starting with U+F000-U+FFFF read in the system encoding"),
    ("e-utf32le", DET, "if (n >= 4 && b[2] == 0x00 && b[3] == 0x00)", "if (n >= 4 && b[2] == 0x00)",
     "detection: FF FE 00 xx read as UTF-32LE"),
    ("e-bom-len", DET, "*offset = 3;", "*offset = 2;", "detection: UTF-8 mark one byte short"),
    ("e-utf16be", DET, "return kEncodingUTF16BE;", "return kEncodingUTF16LE;",
     "detection: FE FF read as little-endian"),
    ("e-surrogates", DEC, "if (lead == 0xED) high = 0x9F;", "",
     "decoder: UTF-8 surrogates accepted"),
    ("r-delim-joins", RULES, " && detail::joinsOnlyMarksAndPrepends(c)",
     " && !detail::hasCodePointFlag(c, detail::kJoinsPrevious | detail::kPrepend)",
     "text rules: a Hangul syllable or pictograph accepted as delimiter"),
    ("r-delim-bom", RULES, " && c != 0xFEFF", "", "text rules: U+FEFF accepted as delimiter"),
    ("r-delim-length", RULES, "return length == delimiter.size() && c < 0x10000",
     "return c < 0x10000", "text rules: two-character delimiter accepted"),
    ("p-bom-kept", PAR, "core.text_.dropUndecoded(markLength);", "",
     "parser: byte-order mark left in the text"),
    ("p-throw-replay", PAR, "    core.tokenizer_.cancel();\n    if (!core.error_) {", "    if (false) {",
     "parser: a delegate's exception replays the text in flight"),
    ("p-reentry", PAR, "  if (core.hasStarted_) throw", "  if (false) throw",
     "parser: parse() from a callback recurses without end"),
    ("f-doubled-quote", CLEAN, "if (c == '\"' && from < end && *from == '\"') ++from;", "",
     "clean-up: doubled quotes kept"),
    ("f-collapse-end", CLEAN, "if (left < 16) quotes &= (1u << left) - 1;", "",
     "clean-up: quotes read past a field's end collapse"),
    ("f-trim", CLEAN, "text = trimCharactersWithFlag(text, kTrimmed, pairs);  // (4)", "",
     "clean-up: spaces around a field kept"),
    ("t-escaped-quote", TOK, "c.beforePrevious != Kind::kBackslash && ", "",
     "tokenizer: escaped quote counts as closing"),
    ("t-window-cr", SCAN, "_mm256_min_epu8(offset, bytesAVX2(0x0D - 0x0A))",
     "_mm256_min_epu8(offset, bytesAVX2(0x0C - 0x0A))", "tokenizer: CR is no stop in the window scan"),
    ("t-prepend-stop", TOK,
     "if (b < 0x20 || b >= 0x7F || !characterHasFlagSlow(last, kPrepend)) return stop;",
     "return stop;", "tokenizer: a quote or delimiter after a Prepend character ends the skip"),
    ("t-backslash-toggle", TOK, "c.balancedEscapes = !c.balancedEscapes;",
     "c.balancedEscapes = false;", "tokenizer: double backslash escapes the next"),
    ("d-empty-lines", DOC, "if (currentLine_ && !currentLine_->empty() && lines_) {",
     "if (currentLine_ && lines_) {", "documents: empty lines kept as rows"),
    ("d-unreadable-string", DOC, "if (!parser) return std::nullopt;", "if (!parser) return CSVLines();",
     "documents: unconvertible string reads as empty"),
    ("d-delimiter-first", DOC, "  requireValidDelimiter(delimiter);\n  return collectLines", "  return collectLines",
     "documents: a refused delimiter passes when the file does not open"),
    ("d-nonrow-check", DOC,
     "  if (firstNonRow(rows) != nullptr) {\n    setError(error, invalidStructure());\n    return false;",
     "  if (false) {\n    setError(error, invalidStructure());\n    return false;",
     "documents: non-row not refused by the file writer"),
    ("t-exact-numbers", CSVTOOL, "if (!whole && !vanished)", "if (!vanished)",
     "quorin-csv: a whole number beyond 64 bits rounded"),
    ("t-underflow", CSVTOOL, "value == 0 && text.substr", "false && text.substr",
     "quorin-csv: a number too small for a double written as 0"),
    ("t-output-dash", CSVTOOL, '  if (options.output && *options.output == "-") options.output.reset();\n', "",
     "quorin-csv: write -o - creates a file named -"),
    ("s-score", TOOL, "detail::integerValue(*value) > 1", "detail::integerValue(*value) >= 1",
     "tool: choice 1 counts towards the score"),
    ("s-complete", TOOL,
     "question <= questionCt(); ++question) {\n    if (!store_->valueForKey",
     "question < questionCt(); ++question) {\n    if (!store_->valueForKey",
     "tool: complete without the last question"),
    ("s-show-score", TOOL, "if (!complete()) return;", "", "tool: score shown before completion"),
    ("s-clear-answer", TOOL, "answer == kClearAnswer", "answer < kClearAnswer",
     "tool: -1 stored instead of clearing"),
    ("s-restart-notify", TOOL, "  resetQuestions();\n  resetScore();\n  return durable;",
     "  resetScore();\n  return durable;", "tool: restart does not tell observers"),
    ("c-number", LOG, "std::max(counted, tail ? tail->lastNumber : 0) + 1", "counted + 1",
     "results log: row number ignores the file"),
    ("c-duplicate", LOG, "    if (!tail->hasLine(row)) {", "    if (true || !tail->hasLine(row)) {",
     "results log: rows already in the file appended again"),
    ("c-torn-row", LOG, "tail.torn = isTornRow(tail.partial);", "tail.torn = false && isTornRow(tail.partial);",
     "results log: torn row written again whole"),
    ("c-pending-cleared", LOG, "store_->removeValueForKey(kPendingRowsKey);", "",
     "results log: written rows stay pending"),
    ("c-help-flag", LOG, "tool.helpWanted() ? \"Y\" : \"N\"", "tool.helpWanted() ? \"N\" : \"Y\"",
     "results log: Wants Help inverted"),
    ("c-alert", LOG, "if (alerts_) alerts_->simpleWithTitle", "if (false) alerts_->simpleWithTitle",
     "results log: failure not shown"),
    ("q-kind-text", STORE, "storage == SQLITE_TEXT && kind == \"text\"", "storage == SQLITE_TEXT",
     "settings: mislabelled text read as text"),
    ("l-line-break", "csv/src/diagnostic_log.cpp",
     "message.find_first_of(kBreaks) != std::string_view::npos", "false",
     "diagnostic log: a line break starts a new line"),
    ("x-keep-other", EXPORT,
     "if (earlier && bytes->starts_with(*earlier) && csv::durable::mayWrite(result.path)) break;",
     "break;",
     "export: a copy of other rows replaced"),
    ("x-sweep", EXPORT, "  csv::durable::removeAbandonedTemporaries(drive.mountPoint, \"results-\", \".csv\");\n",
     "", "export: an interrupted export's copy left on the drive"),
    ("q-detach", STORE, "store->detached_ = true;", "", "settings: unopenable store not detached"),
    ("a-gate", PAGE, "page >= kFirstCompletePage", "page > kFirstCompletePage",
     "page flow: score page not gated"),
    ("a-timeout-min", PAGE, "timeout_ < kShortestTimeout", "timeout_ <= kShortestTimeout",
     "page flow: shortest time-out replaced"),
    ("a-timeout-title", PAGE, "} else if (currentPage_ > 0 || sessionBegun()) {",
     "} else if (currentPage_ >= 0 || sessionBegun()) {",
     "page flow: time-out warning on an idle title page"),
    ("a-help-left", TOOLPAGE, "return helpYesButton_->isChecked() ||", "return",
     "page flow: a help \"Yes\" left on the title page reaches the next person"),
    ("a-help-no-left", TOOLPAGE, "|| helpNoButton_->isChecked();", ";",
     "page flow: a help \"No\" left on the title page is shown to the next person"),
    ("a-double-tap", "app/base_page_controller.cpp", "!pageController_->pageJustArrived()",
     "true", "page flow: a double tap's second half ends the session on the page it brought"),
    ("a-timeout-force", PAGE, "restartAndForce(true);", "restartAndForce(false);",
     "page flow: unanswered warning asks instead of restarting"),
    ("a-restart-order", PAGE,
     "  if (tool.complete()) app_.csvFile().addToCsv(tool);\n  tool.restart();",
     "  tool.restart();\n  if (tool.complete()) app_.csvFile().addToCsv(tool);",
     "page flow: restart before logging the session"),
    ("a-warning-restart-log", PAGE, "if (tool.complete()) app_.csvFile().addToCsv(tool);", "",
     "page flow: restart from the warning loses a finished session"),
    ("a-start-session", PAGE, "app_.tool().restart();", "", "page flow: entering does not restart"),
    ("a-aids-restart", PAGE, "  resetLook();\n", "", "page flow: a restart keeps the reading aids"),
    ("a-aids-idle", PAGE, "if (currentKioskLook() != KioskLook{}) resetLook();", "",
     "page flow: an idle title page keeps the reading aids"),
    ("a-zoom-idle", PAGE, "if (scrollView_->zoomScale() > 1.0f) scrollToPage(0);", "",
     "page flow: an idle title page stays zoomed in"),
    ("a-language-idle", PAGE, "    setLanguage(Language::kSource);\n    listening_", "    listening_",
     "page flow: an idle title page keeps its language"),
    ("s-passcode-prefix", PASSCODE, "return code == kDefaultCode;",
     "return kDefaultCode.starts_with(code);", "passcode: a prefix of the code accepted"),
    ("s-passcode-damaged", PASSCODE,
     '    passcode.failure_ = path + " does not hold a passcode hash";',
     "    passcode.kind_ = Kind::Default;", "passcode: a damaged file reopens the default code"),
    ("s-lock-count", PASSCODE, "if (++failures_ < kAttempts) return false;",
     "if (++failures_ <= kAttempts) return false;", "passcode lock: six wrong codes to lock"),
    ("a-lock-reset", START, "  lock_.succeeded();\n", "", "start: a right code keeps the count"),
    ("a-passcode-clear", START, "  field->setText(QString());\n  const auto now", "  const auto now",
     "start: a wrong passcode stays typed"),
    ("s-int-space", VALUES, "while (i < text.size() && isBlank(text[i])) ++i;", "",
     "number reader: leading blanks not skipped"),
    ("a-answer-radio", TOOLPAGE, "button->setChecked(stored == std::to_string(i));",
     "if (stored == std::to_string(i)) button->setChecked(true);",
     "tool page: other choices stay checked"),
    ("a-results-gate", TOOLPAGE, "if (tool().complete()) {\n    tool().showScore();",
     "if (tool().started()) {\n    tool().showScore();", "tool page: results of an unfinished session"),
    ("a-scroll-rect", SCROLL, "if (high - low >= extent || low < offset) return low;",
     "if (low < offset) return low;", "scroll view: rect wider than the view aligns its end"),
    ("a-read-hidden", READING, "if (w == nullptr || w->isWindow() || !w->isVisibleTo(&root))",
     "if (w == nullptr || w->isWindow())", "reading aloud: hidden texts are read"),
    ("a-cli-early", "app/main.cpp", "  if (!why.isEmpty()) {", "  if (false) {",
     "command line: a mistake reaches QApplication"),
    ("a-speak-dots", PAGE, "layout->setContentsMargins(beside, margins.top()",
     "layout->setContentsMargins(0, margins.top()",
     "page flow: the page dots lie under the read-aloud control"),
    ("a-alert-order", ALERT, "    if (auto* b = qobject_cast<QAbstractButton*>(layout->itemAt(i)->widget())) b->raise();\n",
     "", "alerts: buttons read in another order than they stand"),
    ("t-events-stop", CSVTOOL, "if (Output::failed()) parser.cancelParsing();",
     "if ((false)) parser.cancelParsing();",
     "tool: events reads on after its output failed"),
    ("t-help-value", CSVTOOL, "      ++i;\n      continue;\n", "      continue;\n",
     "tool: an option's value taken for --help"),
    ("a-speak-page", PAGE, "  app_.speech().stop();  // what was being read", "  // what was being read",
     "page flow: turning the page does not stop reading aloud"),
    ("a-voice-start", SPEECH, "    if (started_) return;", "    if ((true)) return;",
     "reading aloud: a voice that never starts keeps a control that does nothing"),
    ("a-voice-asked", SPEECH, "if (asked_ || tts_->state() == QTextToSpeech::Speaking) {",
     "if (tts_->state() == QTextToSpeech::Speaking) {",
     "reading aloud: a page turned before the voice reports speaking is read on"),
    ("a-alert-fit", ALERT, "std::max(b->minimumWidth(), b->sizeHint().width())",
     "b->minimumWidth()", "alerts: a long button title is cut off"),
    ("a-double-tap", ALERT, "  TapGuard::start();\n", "",
     "alerts: the second tap of a double tap answers a question"),
    ("a-empty-code", START, "if (!code.isEmpty() && lock_.failed(now))", "if (lock_.failed(now))",
     "start: Enter with nothing typed counts towards the lock"),
    ("a-drag-button", PAGE, " || frame->viewport()->isAncestorOf(widget)", "",
     "page flow: a drag that starts on a choice does not scroll"),
    ("a-read-at-rest", PAGE,
     "  if (scrollView_->isDragging() || scrollView_->isDecelerating()) {\n    readPending_ = true;",
     "  if (false) {\n    readPending_ = true;", "reading aloud: a tap as the pages move reads the wrong one"),
    ("a-listen-timeout", PAGE,
     "app_.speech().speaking() && listenedSeconds_ + timeout_ <= kLongestReadingSeconds", "false",
     "reading aloud: the time-out cuts a long reading off"),
    ("a-listen-reset", PAGE, "  app_.speech().stop();\n  listening_ = false;\n", "  app_.speech().stop();\n",
     "reading aloud: the next person's alerts are read out"),
    ("a-override-tag", TOOLPAGE, "choice >= kChoices) {",
     "choice > kChoices) {",
     "overrides: an answer button tagged for no question is used"),
    ("a-override-radio", TOOLPAGE, "    button->setAutoExclusive(false);\n", "",
     "overrides: radio buttons keep the last person's answers"),
    ("a-override-start", START, "QStringLiteral(\"startScreener:\")).isEmpty()",
     "QStringLiteral(\"startScreener:\")).size() > 9", "overrides: a start screen that cannot start is used"),
    ("a-override-class", "app/platform/interface_loader.cpp", "!known.contains(className) &&",
     "false &&", "overrides: a widget class Qt does not know is left out silently"),
    ("a-qss-parse", "app/platform/kiosk_style.cpp", "} else if (!clinicSheetParses(clinic)) {",
     "} else if (!clinicSheetParses(clinic) && clinic.isEmpty()) {", "style: a clinic's broken style sheet drops the kiosk's own"),
    ("c-quoted-number", LOG, "    if (c != '\"') out.push_back", "    out.push_back",
     "results log: quoted row numbers are not counted"),
    ("c-partial-number", LOG,
     "tail.lastNumber = std::max(tail.lastNumber, rowNumberOf(tail.lines.back()));\n  } else {", "} else {", "results log: a last row without its line end is not counted"),
    ("x-accents", EXPORT, "UTF8PROC_COMPAT | UTF8PROC_DECOMPOSE |\n", "UTF8PROC_COMPAT |\n",
     "export: a kiosk name's accented letters dropped"),
    ("a-page-entry", "app/base_page_controller.cpp", "if (takesEntry && !kept.contains(action)) {",
     "if (takesEntry && kept.isEmpty()) {", "overrides: a clinic's text field keeps one person's entry"),
    ("a-aid-reset", PAGE, "controlsWithAction(*zoomView_, QStringLiteral(\"toggleAid:\"))",
     "zoomView_->findChildren<AidToggle*>()", "overrides: an aid toggle of another class stays on"),
    ("a-dots-action", PAGE, "dots->property(\"action\").toString() != u\"changePage:\"",
     "dots->property(\"action\").toString() == u\"none\"", "overrides: page dots that do not move the pages"),
    ("a-dots-bar", PAGE, "dots->parentWidget()->isAncestorOf(pages)", "dots->parentWidget() == pages",
     "overrides: page dots beside the pages squeeze them"),
    ("a-cut-off", PAGE, "if (page->minimumSizeHint().width() > room) {",
     "if (page->minimumSizeHint().width() > 2 * room) {", "overrides: a page wider than the screen is not named"),
    ("w-read-only", W, "if (old.replaceable && durable::mayWrite(path))", "if (old.replaceable)",
     "writer: a file marked read-only is replaced"),
    ("a-touch-moving", SCROLL, "swallowingTouch_ = std::exchange(touchStopsMotion_, false);",
     "swallowingTouch_ = touchStopsMotion_ = false;", "page strip: a tap on moving pages presses what passes under it"),
    ("a-settle", SCROLL, "if (std::abs(nearest.x() - offset_.x()) >= 0.5) setContentOffset(nearest, true);",
     "(void)nearest;", "page strip: stopped between two pages for good"),
    ("t-one-line", CSVTOOL, "std::fprintf(stderr, \"%s\\n\", oneLine(message).c_str());",
     "std::fprintf(stderr, \"%s\\n\", message.c_str());", "tool: an error's raw text reaches the terminal unescaped"),
    ("w-unwind", W, "impl_->closeOnDestruction(std::uncaught_exceptions() > impl_->exceptionsAtStart_);",
     "impl_->closeOnDestruction(false);", "writer: an exception's unwinding commits a partial atomic file"),
    ("w-own-fd", W, "openFile ? durable::openDescriptorNamed(path) : std::nullopt",
     "std::optional<int>()", "writer: /dev/stdout reopened instead of written through"),
    ("w-hidden-prepend", W, "        end -= n;\n", "", "writer: a Prepend before a quote hides it from a reader"),
    ("w-comment-backslash", W, "if (canEncode(\"\\\\\")) {", "if (true) {",
     "writer: a comment's quote escaped by a backslash the encoding lacks"),
    ("w-destroy-log", W, "  if (f.failed) {\n    const std::size_t lost", "  if (false) {\n    const std::size_t lost",
     "writer: a failure when destroyed goes unsaid"),
    ("d-left-out-stops", "csv/include/csv/csv_document.hpp", "if (writer->error() && writer->stringValue()) break;",
     "if (writer->error()) break;", "documents: a piece left out stops the write of later rows"),
    ("c-semicolon", LOG, "out.push_back(c == ';' || c == '\\t' ? ',' : c)", "out.push_back(c)",
     "results log: a spreadsheet's semicolons hide the row numbers"),
    ("c-crlf", LOG, "(end = bytes.find_first_of(\"\\r\\n\", from))", "(end = bytes.find('\\n', from))",
     "results log: CR LF rows taken for other rows"),
    ("c-utf16", LOG, "(status.st_size >= 2 && ::pread", "(false && ::pread",
     "results log: rows appended to a UTF-16 file"),
    ("c-from-launch", LOG, "if (fromLaunch && tail &&", "if ((fromLaunch || tail) && tail &&",
     "results log: a session like the last row dropped during a run"),
    ("c-counter-range", LOG, "if (counter >= 0 && counter < kMaxRowNumber) return counter;",
     "if (counter >= 0) return counter;",
     "results log: a stored counter at the limit overflows"),
    ("a-alert-index", PAGE, "if (buttonIndex != alert.cancelButtonIndex()) {",
     "if (alert.buttonTitleAtIndex(buttonIndex) == tr(kRestart)) {",
     "page flow: the warning's Restart ignored after a language change"),
    ("a-es-cut-off", PAGE, "  // A clinic's own translation is checked as its pages come in, once they are laid out.\n  QTimer::singleShot(0, this, [this] { reportCutOffText(); });\n",
     "", "page flow: a translation's cut-off text goes unnamed"),
    ("c-pending-window", LOG, "readTail(fd, status.st_size, rows.size() + kTailBytes)",
     "readTail(fd, status.st_size)", "results log: long-waiting rows beyond the usual tail written twice"),
    ("c-torn-zeros", LOG,
     "tail.zeros = tail.partial.size() - (tail.partial.find_last_not_of('\\0') + 1);",
     "tail.zeros = tail.partial.find_first_not_of('\\0') == std::string::npos ? tail.partial.size() : 0;",
     "results log: a torn row before power-cut zeros left as garbage"),
    ("c-counted", LOG, "rowNumberOf(line) <= counted) return false;", "rowNumberOf(line) < counted) return false;",
     "results log: a session like a counted row dropped at launch"),
    ("c-nul", LOG, "if (tail->holdsNul ||", "if (false ||",
     "results log: rows appended to a UTF-16 file without a byte-order mark"),
    ("q-read-detach", STORE, "    detached_ = true;\n    connection_.reset();",
     "    connection_.reset();", "settings: a launch that cannot read writes over the stored session"),
    ("c-launch-detached", LOG, "if (fromLaunch && store_->isDetached()) {", "if (false) {",
     "results log: a session read in part at launch logged, and again at the next"),
    ("c-renumber", LOG, "number > 0 && number <= last) {", "number < 0 && number <= last) {",
     "results log: a waiting row keeps a number another run used"),
    ("c-renumber-kept", LOG, "if (failure.empty() && anyRenumbered && !keep(renumbered, last)) {",
     "if (failure.empty() && anyRenumbered && !keep(renumbered, last) && false) {",
     "results log: renumbered rows written before the store knows their numbers"),
    ("c-whole-row", LOG, "    tail.lines.push_back(asWritten(tail.partial));\n", "",
     "results log: a row saved without its line end written again"),
    ("c-detached-flush", LOG, "return written && !store_->isDetached();", "return written;",
     "results log: an export calls the copy whole while the settings could not be read"),
    ("c-catch-up", LOG, "if (tail && tail->lastNumber > storedRowCount()) setRowCount(tail->lastNumber);",
     "if (tail && tail->lastNumber < 0) setRowCount(tail->lastNumber);",
     "results log: the counter left behind rows numbered on from the file"),
    ("a-off-screen-pages", "app/platform/accessibility.cpp",
     "(view == nullptr || page->rect().intersects(visible))", "true",
     "accessibility: the controls of pages off screen read out"),
    ("w-long-name", "csv/src/durable_file.cpp", "  prefix += nameInTemporary(destination);",
     "  prefix += baseName(destination);", "atomic writer: a long legal name refused"),
    ("a-key-grace", ALERT, "  static void alertShown() { watch().shownSince_.start(); }",
     "  static void alertShown() { watch(); }", "alert: a second Enter closes it unread"),
    ("x-huge-earlier", EXPORT,
     "if (S_ISREG(status.st_mode) && static_cast<std::uint64_t>(status.st_size) <= bytes->size()) {",
     "if (S_ISREG(status.st_mode)) {", "export: a huge file at the copy's name read whole"),
    ("x-read-only-earlier", EXPORT,
     "bytes->starts_with(*earlier) && csv::durable::mayWrite(result.path)) break;",
     "bytes->starts_with(*earlier)) break;", "export: a read-only earlier copy fails the export"),
    ("x-not-allowed", EXPORT, "      return ExportOutcome::NotAllowed;", "      return ExportOutcome::ReadOnly;",
     "export: a drive the kiosk may not write to called read-only"),
    ("x-torn-copy", EXPORT, "  bytes->resize(finishedLength(*bytes));\n", "",
     "export: a row a power cut tore is copied to the drive"),
    ("x-bare-folder", EXPORT, "created.st_dev != mount.st_dev) {", "false) {",
     "export: the copy written into a gone drive's empty mount folder"),
    ("x-unreadable", EXPORT, "    result.outcome = ExportOutcome::Unreadable;\n", "",
     "export: the kiosk's own unreadable file blamed on the drive"),
    ("a-modal-press", "app/platform/accessibility.cpp",
     "return modal != nullptr && widget->window() != modal && !modal->isAncestorOf(widget);",
     "return false;", "accessibility: a screen reader presses what an alert stands over"),
    ("a-key-repeat", ALERT, "key->timestamp() - releasedAt_ <= kRepeatGapMs);",
     "false);", "alert: a held key's unmarked repeat closes it unread"),
    ("c-logged-again", LOG, "tail->hasSession(startDate, counted)", "tail->hasSession(session, counted)",
     "results log: a logged session the store kept with older answers logged again"),
    ("w-sigpipe", W, "  if (!f.regular) held.emplace();\n", "", "writer: a pipe without a reader ends the program"),
    ("w-commit-output", W, "      if (std::optional<std::string> written = f.atomic->contents()) {",
     "      if (std::optional<std::string> written = std::nullopt) {",
     "writer: a failed atomic commit loses the output"),
    ("w-lone-left-out", W, "(text.empty() || !written);", "(text.empty() || (written ? false : text.empty()));",
     "writer: a row whose one field is left out becomes a blank line"),
    ("w-nul-path", W, "return !path.empty() && path.find('\\0') == std::string::npos;", "return !path.empty();",
     "writer: a path with a NUL byte writes another file"),
    ("x-short-read", "csv/src/durable_file.cpp",
     "if (::fstat(fd, &status) != 0 || bytes.size() < static_cast<std::size_t>(status.st_size)) {",
     "if (::fstat(fd, &status) != 0) {", "export: a file that ends early read as whole"),
    ("x-waiting", START, "const bool whole = log.flushPendingRows();", "const bool whole = true;",
     "export: a copy without the waiting sessions said to be whole"),
    ("g-resume-state", GRAPHEME, "    state = progress->state;\n",
     "    state = UTF8PROC_BOUNDCLASS_START;\n",
     "graphemes: a search resumed with more text forgets the flag and emoji context"),
    ("g-spacing-mark", GRAPHEME, " ||\n      boundclass == UTF8PROC_BOUNDCLASS_SPACINGMARK)", ")",
     "graphemes: a spacing mark is not known to join the character before it"),
    ("g-four-byte", GRAPHEME, "summarize(first, 0x1000)", "summarize(first, 0x40)",
     "graphemes: a four-byte character's flags hidden by its lead bytes' summary"),
    ("e-utf16-split", DEC, "if (i + 4 > n) break;  // the low surrogate has not arrived yet",
     "if (i + 4 > n) {\n          r.invalid = true;\n          break;\n        }",
     "decoder: a UTF-16 pair split between two reads is taken for an invalid one"),
    ("e-iconv-split", DEC, "if (done == static_cast<std::size_t>(-1) && errno == EILSEQ)",
     "if (done == static_cast<std::size_t>(-1) && errno != E2BIG)",
     "decoder: a multi-byte character split between two reads is taken for an invalid one"),
]

EXCLUDE = "^([Tt]orture|[Aa]cceptance)"  # the slow suites run on their own
KIOSK = ("app/", "session/")  # what the acceptance suite runs
ACCEPTANCE = ("ctest", "-R", "^acceptance$", "--timeout", "900")  # the real kiosk, about 4 minutes


def sync(source, scratch):
    """Copies the working tree (tracked and untracked, not ignored) into scratch. Unchanged files
    are left alone, so the build there stays incremental; a changed one gets the time of the copy,
    since the source's own time may be older than the scratch build's objects."""
    listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others",
                             "--exclude-standard"], check=True, capture_output=True).stdout
    wanted = {p for p in listed.decode().split("\0") if p and os.path.isfile(os.path.join(source, p))}
    for path in wanted:
        src, dst = os.path.join(source, path), os.path.join(scratch, path)
        if os.path.exists(dst) and open(src, "rb").read() == open(dst, "rb").read():
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy(src, dst)
    for root, dirs, files in os.walk(scratch):
        rel = os.path.relpath(root, scratch)
        if rel == ".":
            dirs[:] = [d for d in dirs if d != "build"]
        for f in files:
            path = os.path.normpath(os.path.join(rel, f))
            if path not in wanted:
                os.remove(os.path.join(root, f))


def run(cmd, cwd, log, timeout=None):
    with open(log, "a") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        try:
            return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def test_executables(build, regex):
    """The build outputs that the chosen tests run, as ninja targets, so that each mutant builds
    only those (not the kiosk's own programs)."""
    listed = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                            capture_output=True, text=True).stdout
    paths = set()
    for test in json.loads(listed)["tests"]:
        name, command = test["name"], test.get("command") or []
        if re.search(EXCLUDE, name) or (regex and not re.search(regex, name)) or not command:
            continue
        if any(p.get("name") == "LABELS" and set(p["value"]) & {"torture", "acceptance", "deploy"}
               for p in test.get("properties", [])):
            continue
        if os.path.abspath(command[0]).startswith(build + os.sep):
            paths.add(os.path.relpath(command[0], build))
    return sorted(paths)


def failed_tests(scratch, build, regex, log):
    """Runs the unit tests; returns the names that failed, or None when ctest itself timed out."""
    failed_log = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    if os.path.exists(failed_log):
        os.remove(failed_log)
    cmd = ["ctest", "--test-dir", build, "-j2", "-E", EXCLUDE, "-LE", "torture|acceptance|deploy",
           "--timeout", "120"]
    if regex:
        cmd += ["-R", regex]
    if run(cmd, scratch, log, timeout=1800) == -1:
        return None
    if not os.path.exists(failed_log):
        return []
    # A parameterised test's name ends in "  # GetParam() = ...", which says nothing here.
    return sorted(line.split(":", 1)[1].split("  #")[0].strip()
                  for line in open(failed_log) if ":" in line)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--only", help="comma-separated mutation ids")
    parser.add_argument("--tests", help="ctest regex: run only these tests")
    parser.add_argument("--scratch", default="/tmp/quorin-mutants")
    parser.add_argument("--list", action="store_true", help="list the mutations and stop")
    parser.add_argument("--end-to-end", nargs="?", const="missed", choices=["missed", "all"],
                        help="for faults in app/, also run the acceptance test: when the unit "
                        "tests miss the fault (missed, the default) or always (all)")
    args = parser.parse_args()
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    chosen = MUTATIONS
    if args.only:
        ids = args.only.split(",")
        unknown = set(ids) - {m[0] for m in MUTATIONS}
        if unknown:
            sys.exit("planted-faults: unknown id(s): " + ", ".join(sorted(unknown)))
        chosen = [m for m in MUTATIONS if m[0] in ids]
    if args.list:
        for m in chosen:
            print(f"{m[0]:24} {m[1]:38} {m[4]}")
        return
    scratch = os.path.join(args.scratch, "src")
    build = os.path.join(scratch, "build", "dev")
    log = os.path.join(args.scratch, "run.log")
    os.makedirs(scratch, exist_ok=True)
    open(log, "w").close()
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    started = time.time()
    sync(source, scratch)
    if run(["cmake", "--preset", "dev"], scratch, log) != 0 or \
            run(["cmake", "--build", "--preset", "dev"], scratch, log) != 0:
        sys.exit(f"planted-faults: the unmutated tree does not build (see {log})")
    broken = failed_tests(scratch, build, args.tests, log)
    if broken is None or broken:
        sys.exit(f"planted-faults: the unmutated tree fails its tests: {broken} (see {log})")
    targets = test_executables(build, args.tests)
    end_to_end = args.end_to_end and any(m[1].startswith(KIOSK) for m in chosen)
    if end_to_end:
        targets.append("app/quorin")  # the binary the acceptance test runs
        if run(list(ACCEPTANCE), build, log, timeout=1800) != 0:
            sys.exit(f"planted-faults: the unmutated tree fails the acceptance test (see {log})")
    print(f"{'id':24} {'fault':58} result")
    caught = applied = 0
    for ident, path, snippet, replacement, what in chosen:
        file = os.path.join(scratch, path)
        original = open(file).read()
        if original.count(snippet) != 1:
            print(f"{ident:24} {what:58} does not apply ({original.count(snippet)} matches)",
                  flush=True)
            continue
        applied += 1
        open(file, "w").write(original.replace(snippet, replacement))
        try:
            if run(["cmake", "--build", "--preset", "dev", "--target"] + targets, scratch, log) != 0:
                result = "caught by the compiler"
                caught += 1
            else:
                failed = failed_tests(scratch, build, args.tests, log)
                # The acceptance test when the unit tests missed a fault of the kiosk (or always).
                if end_to_end and path.startswith(KIOSK) and failed is not None and \
                        (not failed or args.end_to_end == "all") and \
                        run(list(ACCEPTANCE), build, log, timeout=1800) != 0:
                    failed.append("acceptance")
                if failed is None:
                    result = "caught: the tests did not finish"
                    caught += 1
                elif failed:
                    result = f"{len(failed)}: " + " ".join(failed)
                    caught += 1
                else:
                    result = "NOT CAUGHT"
        finally:
            open(file, "w").write(original)
        print(f"{ident:24} {what:58} {result}", flush=True)
    skipped = len(chosen) - applied
    print(f"caught {caught} of {applied}" + (f" ({skipped} did not apply)" if skipped else "") +
          f"; {int(time.time() - started) // 60} min")


if __name__ == "__main__":
    main()
