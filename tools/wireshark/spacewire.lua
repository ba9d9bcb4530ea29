-- Wireshark dissector for the packet captures of SpaceWire ZARK Software
-- (the device library's capture=PATH setting, the node's --capture=PATH).
--
--   wireshark -X lua_script:tools/wireshark/spacewire.lua run.pcap
--   tshark -2 -X lua_script:tools/wireshark/spacewire.lua -r run.pcap -V
--
-- or copy this file into Wireshark's personal Lua plugins folder.  Records
-- have link type 147 (USER0) and start with a 4-byte pseudo-header:
-- version 1, kind (0 sent by the device, 1 delivered to it, 2 time-code),
-- end of packet (0x80 EOP, 0x40 EEP, 0 none) and the device number; the
-- packet's bytes follow.  Packets whose protocol identifier (after any path
-- bytes below 0x20) is 1 are decoded as RMAP: every header field, the data,
-- both CRCs checked, and replies paired with their commands by device,
-- logical addresses and transaction identifier.  Every RMAP field can be
-- filtered on (rmap.tid, rmap.status, rmap.address, rmap.header_crc.status...).

local spacewire = Proto("spacewire", "SpaceWire capture")
local rmap = Proto("rmap", "Remote Memory Access Protocol")

local kinds = { [0] = "Sent by the device", [1] = "Delivered to the device", [2] = "Time-code" }
local ends = { [0x80] = "EOP", [0x40] = "EEP", [0] = "none" }
local statuses = {
    [0] = "Command executed successfully", [1] = "General error",
    [2] = "Unused RMAP packet type or command code", [3] = "Invalid key", [4] = "Invalid data CRC",
    [5] = "Early EOP", [6] = "Too much data", [7] = "EEP", [8] = "Reserved",
    [9] = "Verify buffer overrun", [10] = "RMAP command not implemented or not authorised",
    [11] = "RMW data length error", [12] = "Invalid target logical address",
}
-- Bits 5..2 of the instruction: write, verify, reply, increment.
local commands = {
    [0] = "invalid", [1] = "invalid", [2] = "read single address", [3] = "read incrementing addresses",
    [4] = "invalid", [5] = "invalid", [6] = "invalid", [7] = "read/modify/write incrementing addresses",
    [8] = "write single address", [9] = "write incrementing addresses",
    [10] = "write single address, reply", [11] = "write incrementing addresses, reply",
    [12] = "verified write single address", [13] = "verified write incrementing addresses",
    [14] = "verified write single address, reply", [15] = "verified write incrementing addresses, reply",
}
local crc_verdicts = { [0] = "Bad", [1] = "Good" }

local sf = {
    version = ProtoField.uint8("spacewire.version", "Pseudo-header version"),
    kind = ProtoField.uint8("spacewire.kind", "Kind", base.DEC, kinds),
    eop = ProtoField.uint8("spacewire.eop", "End of packet", base.HEX, ends),
    device = ProtoField.uint8("spacewire.device", "Device"),
    length = ProtoField.uint32("spacewire.length", "Packet length"),
    time_code = ProtoField.uint8("spacewire.time_code", "Time-code", base.HEX),
    time = ProtoField.uint8("spacewire.time_code.time", "Time", base.DEC, nil, 0x3f),
    flags = ProtoField.uint8("spacewire.time_code.flags", "Control flags", base.DEC, nil, 0xc0),
    data = ProtoField.bytes("spacewire.data", "Data"),
}
spacewire.fields = sf

local rf = {
    path = ProtoField.bytes("rmap.path", "Path address"),
    target_la = ProtoField.uint8("rmap.target_la", "Target logical address", base.HEX),
    initiator_la = ProtoField.uint8("rmap.initiator_la", "Initiator logical address", base.HEX),
    protocol = ProtoField.uint8("rmap.protocol", "Protocol identifier"),
    instruction = ProtoField.uint8("rmap.instruction", "Instruction", base.HEX),
    reserved_bit = ProtoField.uint8("rmap.instruction.reserved", "Reserved", base.DEC, nil, 0x80),
    packet_type = ProtoField.uint8("rmap.packet_type", "Packet type", base.DEC, { [0] = "reply", [1] = "command" }, 0x40),
    command = ProtoField.uint8("rmap.command", "Command", base.DEC, commands, 0x3c),
    write = ProtoField.uint8("rmap.write", "Write", base.DEC, nil, 0x20),
    verify = ProtoField.uint8("rmap.verify", "Verify before write", base.DEC, nil, 0x10),
    reply = ProtoField.uint8("rmap.reply", "Reply", base.DEC, nil, 0x08),
    increment = ProtoField.uint8("rmap.increment", "Increment address", base.DEC, nil, 0x04),
    reply_address_length = ProtoField.uint8("rmap.reply_address_length", "Reply address length (words)", base.DEC, nil, 0x03),
    key = ProtoField.uint8("rmap.key", "Key", base.HEX),
    status = ProtoField.uint8("rmap.status", "Status", base.DEC, statuses),
    reply_address = ProtoField.bytes("rmap.reply_address", "Reply address"),
    tid = ProtoField.uint16("rmap.tid", "Transaction identifier"),
    extended_address = ProtoField.uint8("rmap.extended_address", "Extended address", base.HEX),
    address = ProtoField.uint32("rmap.address", "Address", base.HEX),
    reserved = ProtoField.uint8("rmap.reserved", "Reserved", base.HEX),
    data_length = ProtoField.uint24("rmap.data_length", "Data length"),
    header_crc = ProtoField.uint8("rmap.header_crc", "Header CRC", base.HEX),
    header_crc_status = ProtoField.uint8("rmap.header_crc.status", "Header CRC status", base.DEC, crc_verdicts),
    data = ProtoField.bytes("rmap.data", "Data"),
    mask = ProtoField.bytes("rmap.mask", "Mask"),
    data_crc = ProtoField.uint8("rmap.data_crc", "Data CRC", base.HEX),
    data_crc_status = ProtoField.uint8("rmap.data_crc.status", "Data CRC status", base.DEC, crc_verdicts),
    request_in = ProtoField.framenum("rmap.request_in", "Command in frame"),
    reply_in = ProtoField.framenum("rmap.reply_in", "Reply in frame"),
    duplicate_of = ProtoField.framenum("rmap.duplicate_of", "Duplicate of the reply in frame"),
    time = ProtoField.relative_time("rmap.time", "Response time"),
}
rmap.fields = rf

local experts = {
    malformed = ProtoExpert.new("rmap.malformed", "Malformed RMAP packet", expert.group.MALFORMED, expert.severity.ERROR),
    bad_crc = ProtoExpert.new("rmap.bad_crc", "Wrong CRC", expert.group.CHECKSUM, expert.severity.ERROR),
    eep = ProtoExpert.new("rmap.eep", "Packet ended with EEP", expert.group.PROTOCOL, expert.severity.WARN),
    failed = ProtoExpert.new("rmap.failed", "Command failed", expert.group.RESPONSE_CODE, expert.severity.WARN),
    duplicate = ProtoExpert.new("rmap.duplicate", "Duplicate reply", expert.group.SEQUENCE, expert.severity.WARN),
    unmatched = ProtoExpert.new("rmap.unmatched", "Reply to no command seen", expert.group.SEQUENCE, expert.severity.WARN),
    unanswered = ProtoExpert.new("rmap.unanswered", "No reply seen", expert.group.SEQUENCE, expert.severity.NOTE),
}
rmap.experts = { experts.malformed, experts.bad_crc, experts.eep, experts.failed, experts.duplicate,
                 experts.unmatched, experts.unanswered }

-- An expert note on the whole of buf.  It is given a range of its own: some
-- Wireshark versions change the Tvb object that this call is given.
local function note(tree, buf, expert_info, text)
    local range = buf(0, buf:len())
    if text then tree:add_tvb_expert_info(expert_info, range, text) else tree:add_tvb_expert_info(expert_info, range) end
end

-- The RMAP CRC-8: polynomial x^8 + x^2 + x + 1, bits least significant
-- first, start 0.  Arithmetic only, so that it runs on every Lua version
-- Wireshark has shipped.
local function xor8(a, b)
    local result, bit = 0, 1
    for _ = 1, 8 do
        if a % 2 ~= b % 2 then result = result + bit end
        a, b, bit = math.floor(a / 2), math.floor(b / 2), bit * 2
    end
    return result
end

local crc_table = {}
for i = 0, 255 do
    local crc = i
    for _ = 1, 8 do
        if crc % 2 == 1 then crc = xor8(math.floor(crc / 2), 0xe0) else crc = math.floor(crc / 2) end
    end
    crc_table[i] = crc
end

local function crc8(buf, offset, length)
    local crc = 0
    local bytes = buf:raw(offset, length)
    for i = 1, #bytes do
        crc = crc_table[xor8(crc, bytes:byte(i))]
    end
    return crc
end

-- Pairing, built on the first pass over the file: per command the frame of
-- its first reply, per reply the command's frame and time.
local open_commands, replies_of, reply_info = {}, {}, {}

function spacewire.init()
    open_commands, replies_of, reply_info = {}, {}, {}
end

local function pair_key(device, initiator, target, tid)
    return table.concat({ device, initiator, target, tid }, ":")
end

local function pair(pinfo, device, is_command, reply_expected, initiator, target, tid)
    local frame = pinfo.number
    local key = pair_key(device, initiator, target, tid)
    if not pinfo.visited then
        if is_command then
            if reply_expected then open_commands[key] = { frame = frame, time = pinfo.rel_ts } end
        else
            local command = open_commands[key]
            if command then
                local first = replies_of[command.frame]
                reply_info[frame] = { command = command.frame, delay = pinfo.rel_ts - command.time, first = first }
                if not first then replies_of[command.frame] = frame end
            end
        end
    end
    return key
end

local function show_pairing(buf, pinfo, tree, is_command, reply_expected)
    local frame = pinfo.number
    if is_command then
        if not reply_expected then return end
        local reply = replies_of[frame]
        if reply then
            tree:add(rf.reply_in, reply):set_generated()
        elseif pinfo.visited then
            note(tree, buf, experts.unanswered)
        end
        return
    end
    local info = reply_info[frame]
    if not info then
        note(tree, buf, experts.unmatched)
        return
    end
    tree:add(rf.request_in, info.command):set_generated()
    local seconds = math.floor(info.delay)
    local nanoseconds = math.floor((info.delay - seconds) * 1e9 + 0.5)
    tree:add(rf.time, NSTime.new(seconds, nanoseconds)):set_generated()
    if info.first then
        tree:add(rf.duplicate_of, info.first):set_generated()
        note(tree, buf, experts.duplicate)
    end
end

-- Adds the CRC at offset and its verdict over the bytes [from, offset).
local function check_crc(buf, tree, field, status_field, from, offset, what)
    tree:add(field, buf(offset, 1))
    local good = crc8(buf, from, offset - from) == buf(offset, 1):uint()
    tree:add(status_field, good and 1 or 0):set_generated()
    if not good then note(tree, buf, experts.bad_crc, what .. " CRC is wrong") end
    return good
end

local function malformed(buf, tree, why)
    note(tree, buf, experts.malformed, "Malformed RMAP packet: " .. why)
end

-- buf starts at the packet's first byte; path bytes end at start.
local function dissect_rmap(buf, pinfo, root, start, device, eop)
    local length = buf:len()
    local tree = root:add(rmap, buf(0, length))
    if start > 0 then tree:add(rf.path, buf(0, start)) end
    pinfo.cols.protocol = "RMAP"
    if length - start < 3 then
        malformed(buf, tree, "it ends before its instruction")
        pinfo.cols.info = "RMAP, malformed"
        return
    end
    local instruction = buf(start + 2, 1):uint()
    local is_command = math.floor(instruction / 64) % 2 == 1
    local code = math.floor(instruction / 4) % 16
    local is_write = code >= 8
    local is_rmw = code == 7
    local reply_expected = math.floor(instruction / 8) % 2 == 1
    local function add_instruction(at)
        local item = tree:add(rf.instruction, buf(at, 1))
        item:add(rf.reserved_bit, buf(at, 1))
        item:add(rf.packet_type, buf(at, 1))
        item:add(rf.command, buf(at, 1))
        item:add(rf.write, buf(at, 1))
        item:add(rf.verify, buf(at, 1))
        item:add(rf.reply, buf(at, 1))
        item:add(rf.increment, buf(at, 1))
        item:add(rf.reply_address_length, buf(at, 1))
    end
    local kind = is_rmw and "read/modify/write" or (is_write and "write" or "read")

    local header, has_data
    if is_command then
        local reply_bytes = (instruction % 4) * 4
        header = 16 + reply_bytes
        has_data = is_write or is_rmw
    else
        header = is_write and 8 or 12
        has_data = not is_write
    end
    if length - start < header then
        tree:add(rf.target_la, buf(start, 1))
        tree:add(rf.protocol, buf(start + 1, 1))
        add_instruction(start + 2)
        malformed(buf, tree, "its header ends after " .. (length - start) .. " of " .. header .. " bytes")
        pinfo.cols.info = "RMAP " .. kind .. (is_command and " command" or " reply") .. ", malformed"
        return
    end

    local at = start
    local initiator, target, tid, data_length, status, extended, address
    if is_command then
        target = buf(at, 1):uint()
        tree:add(rf.target_la, buf(at, 1))
        tree:add(rf.protocol, buf(at + 1, 1))
        add_instruction(at + 2)
        tree:add(rf.key, buf(at + 3, 1))
        local reply_bytes = (instruction % 4) * 4
        if reply_bytes > 0 then tree:add(rf.reply_address, buf(at + 4, reply_bytes)) end
        at = at + 4 + reply_bytes
        initiator = buf(at, 1):uint()
        tree:add(rf.initiator_la, buf(at, 1))
        tid = buf(at + 1, 2):uint()
        tree:add(rf.tid, buf(at + 1, 2))
        extended = buf(at + 3, 1):uint()
        tree:add(rf.extended_address, buf(at + 3, 1))
        address = buf(at + 4, 4):uint()
        tree:add(rf.address, buf(at + 4, 4))
        data_length = buf(at + 8, 3):uint()
        tree:add(rf.data_length, buf(at + 8, 3))
        at = at + 11
    else
        initiator = buf(at, 1):uint()
        tree:add(rf.initiator_la, buf(at, 1))
        tree:add(rf.protocol, buf(at + 1, 1))
        add_instruction(at + 2)
        status = buf(at + 3, 1):uint()
        tree:add(rf.status, buf(at + 3, 1))
        target = buf(at + 4, 1):uint()
        tree:add(rf.target_la, buf(at + 4, 1))
        tid = buf(at + 5, 2):uint()
        tree:add(rf.tid, buf(at + 5, 2))
        at = at + 7
        if not is_write then
            tree:add(rf.reserved, buf(at, 1))
            data_length = buf(at + 1, 3):uint()
            tree:add(rf.data_length, buf(at + 1, 3))
            at = at + 4
        end
        if status ~= 0 then note(tree, buf, experts.failed, "Status " .. status .. ": " .. (statuses[status] or "unknown")) end
    end
    check_crc(buf, tree, rf.header_crc, rf.header_crc_status, start, at, "Header")
    at = at + 1

    if has_data then
        local present = length - at
        if present < data_length + 1 then
            if present > 0 then tree:add(rf.data, buf(at, present)) end
            malformed(buf, tree, "its data length is " .. data_length .. " but " .. math.max(present - 1, 0) .. " bytes follow")
        else
            if data_length > 0 then
                if is_rmw and is_command then
                    local half = math.floor(data_length / 2)
                    if half > 0 then tree:add(rf.data, buf(at, half)) end
                    if data_length - half > 0 then tree:add(rf.mask, buf(at + half, data_length - half)) end
                else
                    tree:add(rf.data, buf(at, data_length))
                end
            end
            check_crc(buf, tree, rf.data_crc, rf.data_crc_status, at, at + data_length, "Data")
            at = at + data_length + 1
        end
    end
    if at < length then
        malformed(buf, tree, (length - at) .. " bytes beyond its end")
    end
    if eop == 0x40 then note(tree, buf, experts.eep) end

    pair(pinfo, device, is_command, reply_expected, initiator, target, tid)
    show_pairing(buf, pinfo, tree, is_command, reply_expected)

    local info = string.format("RMAP %s %s, TID %d", kind, is_command and "command" or "reply", tid)
    if is_command then
        info = info .. string.format(", address 0x%02x%08x, length %d", extended, address, data_length)
    else
        info = info .. ", status " .. status
    end
    pinfo.cols.info = info
end

function spacewire.dissector(buf, pinfo, root)
    pinfo.cols.protocol = "SpaceWire"
    local length = buf:len()
    local tree = root:add(spacewire, buf(0, math.min(length, 4)))
    if length < 4 then
        note(tree, buf, experts.malformed, "Record shorter than its pseudo-header")
        return
    end
    tree:add(sf.version, buf(0, 1))
    local kind = buf(1, 1):uint()
    local eop = buf(2, 1):uint()
    local device = buf(3, 1):uint()
    tree:add(sf.kind, buf(1, 1))
    tree:add(sf.eop, buf(2, 1))
    tree:add(sf.device, buf(3, 1))
    local packet = buf(4):tvb()
    local bytes = packet:len()
    tree:add(sf.length, bytes):set_generated()
    if kind == 2 then
        if bytes >= 1 then
            local item = tree:add(sf.time_code, packet(0, 1))
            item:add(sf.time, packet(0, 1))
            item:add(sf.flags, packet(0, 1))
            pinfo.cols.info = string.format("Time-code 0x%02x on device %d", packet(0, 1):uint(), device)
        end
        return
    end
    -- Path bytes (below 0x20) come first; then a logical address and, for
    -- RMAP, protocol identifier 1.
    local start = 0
    while start < bytes and packet(start, 1):uint() < 0x20 do start = start + 1 end
    if start + 1 < bytes and packet(start + 1, 1):uint() == 1 then
        dissect_rmap(packet, pinfo, root, start, device, eop)
        return
    end
    if bytes > 0 then tree:add(sf.data, packet(0, bytes)) end
    pinfo.cols.info = string.format("%s, %d bytes, %s", kinds[kind] or "Packet", bytes, ends[eop] or "?")
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, spacewire)
