-- Wireshark dissector for the Vekton console's host link to the store's
-- KV-PLC, as vekton-trace --pcapng writes it: link type USER0, outbound
-- packets the console's command bytes, inbound ones the controller's answer
-- bytes, empty packets the trace's events (their text is the packet
-- comment).
--
-- A command is ASCII ending in CR ("RD DM200\r"), its answer ASCII ending in
-- CR LF ("00123\r\n"). Either may come in pieces: a command typed a byte at
-- a time, an answer read in parts. The pieces are joined here, and each
-- answer is linked to its command the way Wireshark's request/response
-- dissectors do it (vekton.request_in, vekton.response_in, vekton.time),
-- worked out on the first pass through the capture and kept per frame.
--
-- The pairing follows vekton-trace --exchanges: an exchange ends with its
-- answer's LF, or without an answer (or with part of one) at the next
-- command, or at a PURGE, OPEN, CLOSE, LOST, ESC or a run's first HEAD. A
-- CR on its own is an empty line, which the controller does not answer, and
-- no command. Inbound bytes no command waits for answer nothing and are
-- shown as such. The answer time runs from the command's first piece to the
-- answer's first piece.
--
-- Load:  wireshark -X lua_script:vekton-hostlink.lua FILE.pcapng
--        tshark -2 -Y vekton -X lua_script:vekton-hostlink.lua -r FILE.pcapng
-- (tshark needs -2 for a command to know its answer's frame, and a filter
-- for its first pass to read the events' comments), or copy it into the
-- personal Lua plugins folder (Help > About > Folders): on Linux
-- ~/.local/lib/wireshark/plugins, on Windows %APPDATA%\Wireshark\plugins.

local proto = Proto("vekton", "Vekton host link")

-- What each error answer means in the KV host link, as far as this program
-- meets them: the controller sends E0..E6 instead of a value or OK.
local errors = {
  E0 = "device number error (no such device or number)",
  E1 = "command error (unknown command or bad syntax)",
  E2 = "program not registered (the PLC holds no program)",
  E4 = "write protected (the device may not be written)",
  E5 = "unit error (the PLC reports an error state)",
  E6 = "no comment (the device has no comment to read)",
}

local commands = {
  CR = "communication request",
  CQ = "communication quit",
  RD = "read",
  WR = "write",
  ST = "set relay",
  RS = "reset relay",
}

local answers = {
  OK = "OK (done)",
  CC = "connection confirmed",
  CF = "communication finished",
}

local f = {
  command = ProtoField.string("vekton.command", "Command", base.ASCII),
  code = ProtoField.string("vekton.code", "Command code", base.ASCII),
  device = ProtoField.string("vekton.device", "Device", base.ASCII),
  number = ProtoField.uint32("vekton.number", "Device number", base.DEC),
  value = ProtoField.string("vekton.value", "Value", base.ASCII),
  answer = ProtoField.string("vekton.answer", "Answer", base.ASCII),
  error = ProtoField.string("vekton.error", "Error", base.ASCII),
  contact = ProtoField.string("vekton.timer.contact", "Timer contact", base.ASCII),
  current = ProtoField.uint32("vekton.timer.current", "Timer current value", base.DEC),
  preset = ProtoField.uint32("vekton.timer.preset", "Timer preset value", base.DEC),
  request_in = ProtoField.framenum("vekton.request_in", "Request in", base.NONE, frametype.REQUEST),
  response_in = ProtoField.framenum("vekton.response_in", "Response in", base.NONE, frametype.RESPONSE),
  time = ProtoField.relative_time("vekton.time", "Time", "The time from the command's first piece to the answer's"),
  no_answer = ProtoField.none("vekton.no_answer", "No answer"),
  piece_of = ProtoField.framenum("vekton.piece_of", "Piece of the message ending in", base.NONE),
  first_piece = ProtoField.framenum("vekton.first_piece", "First piece in", base.NONE),
  stray = ProtoField.bytes("vekton.stray", "Bytes no command waited for"),
  event = ProtoField.string("vekton.event", "Event", base.ASCII),
}
proto.fields = f

local ef = {
  error = ProtoExpert.new("vekton.error.expert", "The controller answered with an error", expert.group.RESPONSE_CODE,
    expert.severity.WARN),
  no_answer = ProtoExpert.new("vekton.no_answer.expert", "The command got no answer", expert.group.SEQUENCE,
    expert.severity.WARN),
  partial = ProtoExpert.new("vekton.partial.expert", "The answer stopped before its CR LF", expert.group.MALFORMED,
    expert.severity.WARN),
}
proto.experts = ef

local comment_field = Field.new("frame.comment")
local direction_ok, direction_field = pcall(Field.new, "frame.packet_flags_direction")

-- First-pass state and what it found, per frame. frames[n] is
--   { kind = "event", text = ... } or
--   { kind = "piece", role = "command"|"answer", ex = exchange } or
--   { kind = "stray" } (inbound bytes no command waited for) or
--   { kind = "blank" } (only the CRs of empty lines)
-- and an exchange is
--   { command, cmd_first, cmd_last, cmd_us, answer, ans_first, ans_last,
--     ans_us, complete }
-- (frames, texts, and the first pieces' times in microseconds).
local frames, state, ex

-- The trace's events that end an exchange (as vekton-trace pairs them).
local ending_events = { PURGE = true, OPEN = true, CLOSE = true, LOST = true, ESC = true }

function proto.init()
  frames = {}
  state = "idle"
  ex = nil
end

local function end_exchange()
  if ex and ex.answer then
    -- The answer without its CR LF, or what came of it.
    ex.answer = ex.answer:gsub("\n$", ""):gsub("\r$", "")
  end
  state = "idle"
  ex = nil
end

-- The payload as the trace writes it: printable ASCII as it is, every other
-- byte by its name or as \xNN, so that fields compare with vekton-trace's.
local control_names = {
  [0] = "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF", "VT", "FF", "CR", "SO", "SI",
  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US",
}
local function escape(s)
  return (s:gsub("[%z\1-\31\127-\255<\\]", function(c)
    local b = c:byte()
    if b < 32 then return "<" .. control_names[b] .. ">" end
    if b == 127 then return "<DEL>" end
    return string.format("\\x%02X", b)
  end))
end

-- An exchange's command or answer as escaped text, kept once the first pass
-- is over (during it the text may still grow).
local function text_of(x, key, final)
  local kept = x[key .. "_text"]
  if kept then return kept end
  local text = escape(x[key])
  if final then x[key .. "_text"] = text end
  return text
end

-- The packet's time in whole microseconds, as the trace has it (a double of
-- seconds holds today's times to a quarter of a microsecond).
local function micros(pinfo)
  return math.floor(pinfo.abs_ts * 1000000 + 0.5)
end

-- Milliseconds with one decimal, rounded in whole microseconds as
-- vekton-trace rounds them (a 12.35 goes up).
local function ms_text(us)
  local tenths = math.floor((us + 50) / 100)
  return string.format("%d.%d", math.floor(tenths / 10), tenths % 10)
end

-- The packet's direction from its epb_flags: Wireshark's P2P_DIR_SENT (0)
-- for outbound, P2P_DIR_RECV (1) for inbound; nil when it has none.
local function outbound(pinfo)
  if pinfo.p2p_dir == 0 then return true end
  if pinfo.p2p_dir == 1 then return false end
  if direction_ok then
    local d = direction_field()
    if d then return d.value == 2 end
  end
  return nil
end

local function note(n, entry)
  local list = frames[n]
  if not list then
    list = {}
    frames[n] = list
  end
  list[#list + 1] = entry
end

-- The first pass: the packet's bytes through the same states as
-- vekton-trace's pairing.
local function first_pass(tvb, pinfo)
  local n = pinfo.number
  if tvb:len() == 0 then
    local c = comment_field()
    local text = c and tostring(c.value)
    note(n, { kind = "event", text = text })
    -- Without a protocol tree on the first pass (tshark -2 with no filter)
    -- the comment cannot be read: an unknown event ends the exchange, as
    -- most events do.
    local word = text and text:match("^(%S+)") or "?"
    if ending_events[word] or word == "?" then
      end_exchange()
    elseif word == "HEAD" then
      -- A run's first file begins a new run; its continuation goes on.
      local part = tonumber(text:match(" part=(%d+)"))
      if not part or part <= 1 then end_exchange() end
    end
    return
  end
  local out = outbound(pinfo)
  if out == nil then
    -- A packet of no known direction is neither command nor answer.
    note(n, { kind = "stray" })
    return
  end
  local bytes = tvb:raw(0, tvb:len())
  -- Whole runs of bytes up to the next CR or LF at a time, so that a
  -- long stream of line noise costs no more than a short answer.
  local i, len = 1, #bytes
  while i <= len do
    if out and state ~= "command" and bytes:byte(i) == 13 then
      -- An empty line: the controller answers none, so it is no command
      -- (the console's polls end with a second CR). It ends an answer
      -- that has begun, as any outbound byte does.
      if state == "answer" then end_exchange() end
      i = i + 1
    elseif out then
      if state == "waiting" or state == "answer" then end_exchange() end
      if state == "idle" then
        ex = { command = "", cmd_first = n, cmd_us = micros(pinfo) }
        state = "command"
      end
      if ex.cmd_last ~= n then
        ex.cmd_last = n
        note(n, { kind = "piece", role = "command", ex = ex })
      end
      local cr = bytes:find("\r", i, true)
      ex.command = ex.command .. bytes:sub(i, (cr or len + 1) - 1)
      if cr then state = "waiting" end
      i = (cr or len) + 1
    else
      if state == "waiting" then
        ex.answer = ""
        ex.ans_first = n
        ex.ans_us = micros(pinfo)
        state = "answer"
      end
      if state == "answer" then
        if ex.ans_last ~= n then
          ex.ans_last = n
          note(n, { kind = "piece", role = "answer", ex = ex })
        end
        local lf = bytes:find("\n", i, true)
        ex.answer = ex.answer .. bytes:sub(i, lf or len)
        if lf then
          ex.complete = true
          end_exchange()
        end
        i = (lf or len) + 1
      else
        -- Nobody asked: the rest of the packet answers nothing.
        note(n, { kind = "stray" })
        i = len + 1
      end
    end
  end
  if not frames[n] then note(n, { kind = "blank" }) end
end

-- "RD DM200" as code RD, device DM, number 200; "RD 1915" a relay;
-- "WR DM20 5" with its value.
local function add_command(tree, range, text)
  tree:add(f.command, range, text)
  local code, rest = text:match("^(%u%u)(.*)$")
  if not code then return end
  local item = tree:add(f.code, range, code)
  if commands[code] then item:append_text(" (" .. commands[code] .. ")") end
  local dev, num, value = rest:match("^ +(%a*)(%d+) *(%S*)")
  if not num then return end
  if dev == "" then
    tree:add(f.device, range, "relay")
  else
    tree:add(f.device, range, dev)
  end
  local number = tonumber(num)
  if number and number <= 4294967295 then tree:add(f.number, range, number) end
  if value ~= "" then tree:add(f.value, range, value) end
end

local function add_answer(tree, range, text, command, complete)
  tree:add(f.answer, range, text)
  if errors[text] then
    local item = tree:add(f.error, range, text .. ": " .. errors[text])
    item:add_proto_expert_info(ef.error)
  elseif answers[text] then
    tree:add(f.value, range, text):append_text(" (" .. answers[text] .. ")")
  elseif text:match("^%d,%d%d%d%d%d,%d%d%d%d%d$") then
    -- A timer: its contact, current and preset value.
    tree:add(f.value, range, text)
    tree:add(f.contact, range, text:sub(1, 1) == "1" and "on" or "off")
    tree:add(f.current, range, tonumber(text:sub(3, 7)))
    tree:add(f.preset, range, tonumber(text:sub(9, 13)))
  elseif text ~= "" then
    local item = tree:add(f.value, range, text)
    if (text == "0" or text == "1") and command:match("^RD +%d") then
      item:append_text(text == "1" and " (relay on)" or " (relay off)")
    end
  end
  if not complete then tree:add_proto_expert_info(ef.partial) end
end

function proto.dissector(tvb, pinfo, root)
  if not pinfo.visited then first_pass(tvb, pinfo) end
  local list = frames[pinfo.number]
  if not list then return 0 end
  pinfo.cols.protocol = "VEKTON"
  local range = tvb:len() > 0 and tvb() or tvb(0, 0)
  local tree = root:add(proto, range)
  local info = {}
  for _, e in ipairs(list) do
    if e.kind == "event" then
      if not e.text then
        local c = comment_field()
        e.text = c and tostring(c.value)
      end
      tree:add(f.event, range, e.text or "")
      info[#info + 1] = e.text or "[event]"
    elseif e.kind == "blank" then
      info[#info + 1] = "[empty line]"
    elseif e.kind == "stray" then
      tree:add(f.stray, range)
      info[#info + 1] = "[" .. escape(tvb:raw(0, tvb:len())) .. ", no command waiting]"
    else
      local x = e.ex
      local last = e.role == "command" and x.cmd_last or x.ans_last
      local first = e.role == "command" and x.cmd_first or x.ans_first
      if pinfo.number ~= last then
        tree:add(f.piece_of, range, last)
        info[#info + 1] = "[" .. e.role .. " piece, continued in frame " .. last .. "]"
      elseif e.role == "command" then
        if first ~= last then tree:add(f.first_piece, range, first) end
        local command = text_of(x, "command", pinfo.visited)
        add_command(tree, range, command)
        if x.ans_last then
          tree:add(f.response_in, range, x.ans_last)
        elseif pinfo.visited then
          -- After the first pass an exchange with no answer has none.
          tree:add(f.no_answer, range):add_proto_expert_info(ef.no_answer)
        end
        info[#info + 1] = command
      else
        if first ~= last then tree:add(f.first_piece, range, first) end
        local answer = text_of(x, "answer", pinfo.visited)
        add_answer(tree, range, answer, x.command, x.complete)
        tree:add(f.request_in, range, x.cmd_last)
        -- The capture holds the wall clock only; should it have been set
        -- back between command and answer, the time is 0 rather than
        -- negative, as vekton-trace's run clock never goes back.
        local us = math.max(0, x.ans_us - x.cmd_us)
        tree:add(f.time, range, NSTime.new(math.floor(us / 1000000), us % 1000000 * 1000))
        info[#info + 1] = answer .. " (answer to frame " .. x.cmd_last .. ", " .. ms_text(us) .. " ms)"
      end
    end
  end
  pinfo.cols.info = table.concat(info, "; ")
  return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, proto)
