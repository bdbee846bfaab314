// IS-637 transport-layer messages: parsing into and building from CdmaSmsMessage.
#include "cdma_transport.h"

#include <cstddef>
#include <cstring>

#include "cdma_bits.h"

namespace {

enum : uint8_t {
    PARAM_TELESERVICE = 0,
    PARAM_SERVICE_CATEGORY = 1,
    PARAM_ORIG_ADDRESS = 2,
    PARAM_ORIG_SUBADDRESS = 3,
    PARAM_DEST_ADDRESS = 4,
    PARAM_DEST_SUBADDRESS = 5,
    PARAM_BEARER_REPLY = 6,
    PARAM_BEARER_DATA = 8,
};

enum : uint8_t {
    SUB_MESSAGE_ID = 0,
    SUB_USER_DATA = 1,
    SUB_USER_RESPONSE = 2,
    SUB_MC_TIME = 3,
    SUB_VALIDITY_ABSOLUTE = 4,
    SUB_VALIDITY_RELATIVE = 5,
    SUB_DEFERRED_ABSOLUTE = 6,
    SUB_DEFERRED_RELATIVE = 7,
    SUB_PRIORITY = 8,
    SUB_PRIVACY = 9,
    SUB_REPLY_OPTION = 10,
    SUB_NUM_MESSAGES = 11,
    SUB_ALERT = 12,
    SUB_LANGUAGE = 13,
    SUB_CALLBACK = 14,
    SUB_DISPLAY_MODE = 15,
    SUB_MULTI_ENCODING = 16,
    SUB_DEPOSIT_INDEX = 17,
    SUB_PROGRAM_DATA = 18,
    SUB_PROGRAM_RESULTS = 19,
    SUB_MESSAGE_STATUS = 20,
};

// A user-data field count times its width must stay below this many bits.
constexpr int USER_DATA_BITS_LIMIT = 2048;
// Characters of one program-data entry stay below this many bits.
constexpr int PROGRAM_CHARS_BITS_LIMIT = 168;

bool parse_address(BitReader& r, CdmaAddress* a)
{
    a->digit_mode = r.read(1);
    a->number_mode = r.read(1);
    if (a->digit_mode == 1) {
        a->number_type = r.read(3);
        if (a->number_mode == 0)
            a->number_plan = r.read(4);
    }
    int count = r.read(8);
    int width = a->digit_mode == 0 ? 4 : 8;
    a->num_fields = copy_fields(r, count, width, a->chars, sizeof a->chars);
    return !r.overrun && r.octets_covered() * 8 == r.bits;
}

bool parse_subaddress(BitReader& r, CdmaSubaddress* s)
{
    s->type = r.read(3);
    s->odd = r.read(1);
    int count = r.read(8);
    s->num_fields = copy_fields(r, count, 8, s->chars, sizeof s->chars);
    return !r.overrun && r.octets_covered() * 8 == r.bits;
}

// One user-data entry body (encoding, count, characters); the IS-91 type octet is
// present only in the user data subparameter.
bool parse_user_data_entry(BitReader& r, CdmaUserData* ud, bool with_is91, uint32_t teleservice)
{
    uint32_t encoding = r.read(5);
    if (with_is91 && encoding == 1)
        ud->is91_type = r.read(8);
    int width = cdma_field_width(encoding);
    if (with_is91 && cdma_is_wap(teleservice)) {
        width = encoding == 1 ? 6 : 8;
        encoding = 0;
    }
    ud->encoding = encoding;
    int count = r.read(8);
    if (count * width >= USER_DATA_BITS_LIMIT)
        return false;
    ud->num_fields = copy_fields(r, count, width, ud->chars, sizeof ud->chars);
    return !r.overrun;
}

bool parse_callback(BitReader& r, CdmaCallback* cb)
{
    cb->digit_mode = r.read(1);
    if (cb->digit_mode == 1) {
        cb->number_type = r.read(3);
        cb->number_plan = r.read(4);
    }
    int count = r.read(8);
    int width = cb->digit_mode == 0 ? 4 : 8;
    cb->num_fields = copy_fields(r, count, width, cb->chars, sizeof cb->chars);
    return !r.overrun;
}

bool parse_multi_encoding(BitReader& r, CdmaSmsMessage* m)
{
    while (r.bits_left() >= 13) {
        CdmaUserData entry = {};
        if (!parse_user_data_entry(r, &entry, false, m->teleservice_id))
            return false;
        // Entries past the record's capacity are checked but not kept.
        if (m->ud_count < CDMA_USER_DATA_ENTRIES)
            m->user_data[m->ud_count++] = entry;
    }
    return true;
}

bool parse_program_data(BitReader& r, CdmaSmsMessage* m)
{
    m->program_data_encoding = r.read(5);
    int width = cdma_field_width(m->program_data_encoding);
    while (r.bits_left() >= 48) {
        if (m->program_data_count == CDMA_PROGRAM_ENTRIES)
            return false;
        CdmaProgramEntry& e = m->program_data[m->program_data_count++];
        e.operation_code = r.read(4);
        e.category = r.read(16);
        e.language = r.read(8);
        e.max_messages = r.read(8);
        e.alert_option = r.read(4);
        int count = r.read(8);
        if (count * width >= PROGRAM_CHARS_BITS_LIMIT)
            return false;
        e.num_chars = copy_fields(r, count, width, e.chars, sizeof e.chars);
        if (r.overrun)
            return false;
    }
    return true;
}

// One field of a fixed-length subparameter: count values of bits each, read in
// order into the record member at offset (size bytes per value).
struct FixedField {
    uint16_t offset;
    uint8_t size;
    uint8_t bits;
    uint8_t count;
};

// A subparameter whose body always has the same length and layout.
struct FixedSubparameter {
    uint8_t id;
    uint8_t length;  // octets of the body; any other length is malformed
    uint32_t present;
    uint8_t field_count;
    FixedField fields[3];
};

#define FIELD(member, bits) {static_cast<uint16_t>(offsetof(CdmaSmsMessage, member)), \
                             static_cast<uint8_t>(sizeof CdmaSmsMessage::member), bits, 1}
#define OCTETS(member, n) {static_cast<uint16_t>(offsetof(CdmaSmsMessage, member)), 1, 8, n}

constexpr FixedSubparameter FIXED_SUBPARAMETERS[] = {
    {SUB_MESSAGE_ID, 3, 0, 3, {FIELD(bearer_msg_type, 4), FIELD(message_id, 16), FIELD(header_ind, 1)}},
    {SUB_USER_RESPONSE, 1, CDMA_HAS_USER_RESPONSE, 1, {FIELD(user_response, 8)}},
    {SUB_MC_TIME, 6, CDMA_HAS_MC_TIME, 1, {OCTETS(mc_time, 6)}},
    {SUB_VALIDITY_ABSOLUTE, 6, CDMA_HAS_VALIDITY_ABSOLUTE, 1, {OCTETS(validity_absolute, 6)}},
    {SUB_VALIDITY_RELATIVE, 1, CDMA_HAS_VALIDITY_RELATIVE, 1, {FIELD(validity_relative, 8)}},
    {SUB_DEFERRED_ABSOLUTE, 6, CDMA_HAS_DEFERRED_ABSOLUTE, 1, {OCTETS(deferred_absolute, 6)}},
    {SUB_DEFERRED_RELATIVE, 1, CDMA_HAS_DEFERRED_RELATIVE, 1, {FIELD(deferred_relative, 8)}},
    {SUB_PRIORITY, 1, CDMA_HAS_PRIORITY, 1, {FIELD(priority, 2)}},
    {SUB_PRIVACY, 1, CDMA_HAS_PRIVACY, 1, {FIELD(privacy, 2)}},
    {SUB_REPLY_OPTION, 1, CDMA_HAS_REPLY_OPTION, 3, {FIELD(user_ack, 1), FIELD(dak, 1), FIELD(read_ack, 1)}},
    {SUB_NUM_MESSAGES, 1, CDMA_HAS_NUM_MESSAGES, 1, {FIELD(num_messages, 8)}},
    {SUB_ALERT, 1, CDMA_HAS_ALERT, 1, {FIELD(alert, 2)}},
    {SUB_LANGUAGE, 1, CDMA_HAS_LANGUAGE, 1, {FIELD(language, 8)}},
    {SUB_DISPLAY_MODE, 1, CDMA_HAS_DISPLAY_MODE, 2, {FIELD(display_mode, 2), FIELD(display_reserved, 6)}},
    {SUB_DEPOSIT_INDEX, 2, CDMA_HAS_DEPOSIT_INDEX, 1, {FIELD(deposit_index, 16)}},
    {SUB_MESSAGE_STATUS, 1, CDMA_HAS_MESSAGE_STATUS, 2, {FIELD(error_class, 2), FIELD(status_code, 6)}},
};

#undef FIELD
#undef OCTETS

const FixedSubparameter* find_fixed(int id)
{
    for (const FixedSubparameter& f : FIXED_SUBPARAMETERS)
        if (f.id == id)
            return &f;
    return nullptr;
}

// Stores a value read into a record member of 1, 2 or 4 bytes.
void store_field(CdmaSmsMessage* m, const FixedField& f, int index, uint32_t value)
{
    unsigned char* at = reinterpret_cast<unsigned char*>(m) + f.offset + index * f.size;
    if (f.size == 1) {
        uint8_t v = static_cast<uint8_t>(value);
        memcpy(at, &v, 1);
    } else if (f.size == 2) {
        uint16_t v = static_cast<uint16_t>(value);
        memcpy(at, &v, 2);
    } else {
        memcpy(at, &value, 4);
    }
}

bool parse_fixed(const FixedSubparameter& sub, BitReader& r, int length, CdmaSmsMessage* m)
{
    if (length != sub.length)
        return false;
    for (int i = 0; i < sub.field_count; i++)
        for (int k = 0; k < sub.fields[i].count; k++)
            store_field(m, sub.fields[i], k, r.read(sub.fields[i].bits));
    m->present |= sub.present;
    return true;
}

// Decodes one bearer-data subparameter body; false when it does not match its length.
bool parse_subparameter(int id, BitReader& r, int length, CdmaSmsMessage* m)
{
    if (const FixedSubparameter* fixed = find_fixed(id))
        return parse_fixed(*fixed, r, length, m);
    switch (id) {
    case SUB_USER_DATA:
        if (!parse_user_data_entry(r, &m->user_data[0], true, m->teleservice_id)
            || r.octets_covered() != length)
            return false;
        if (m->ud_count == 0)
            m->ud_count = 1;
        m->present |= CDMA_HAS_USER_DATA;
        return true;
    case SUB_CALLBACK:
        if (!parse_callback(r, &m->callback) || r.octets_covered() != length)
            return false;
        m->present |= CDMA_HAS_CALLBACK;
        return true;
    case SUB_MULTI_ENCODING:
        if (!parse_multi_encoding(r, m) || r.octets_covered() != length)
            return false;
        m->present |= CDMA_HAS_MULTI_ENCODING;
        return true;
    case SUB_PROGRAM_DATA:
        if (!parse_program_data(r, m) || r.octets_covered() != length)
            return false;
        m->present |= CDMA_HAS_PROGRAM_DATA;
        return true;
    case SUB_PROGRAM_RESULTS:
        // The count follows from the length; entries past the record's capacity are cut.
        for (int i = 0; i < length / 3; i++) {
            uint16_t category = r.read(16);
            uint8_t result = r.read(4);
            r.read(4);
            if (m->program_result_count < CDMA_PROGRAM_ENTRIES) {
                m->program_results[m->program_result_count].category = category;
                m->program_results[m->program_result_count].result = result;
                m->program_result_count++;
            }
        }
        m->present |= CDMA_HAS_PROGRAM_RESULTS;
        return true;
    default:
        return false;
    }
}

void parse_bearer_data(const uint8_t* body, int length, CdmaSmsMessage* m)
{
    int at = 0;
    while (at + 2 <= length) {
        int id = body[at];
        int sub_length = body[at + 1];
        at += 2;
        if (id > SUB_MESSAGE_STATUS || at + sub_length > length)
            return;
        BitReader r(body + at, sub_length);
        if (!parse_subparameter(id, r, sub_length, m) || r.overrun)
            return;
        at += sub_length;
    }
}

// Writes one parameter or subparameter: identifier, length octet, body.
struct Section {
    BitWriter& w;
    int length_at;

    Section(BitWriter& writer, int id) : w(writer)
    {
        w.write(id, 8);
        length_at = w.position / 8;
        w.write(0, 8);
    }

    // Pads the body, fills in its length; false when it does not fit one octet.
    bool close()
    {
        w.align();
        int length = w.position / 8 - length_at - 1;
        if (w.full || length > 255)
            return false;
        w.data[length_at] = static_cast<uint8_t>(length);
        return true;
    }
};

bool write_address(BitWriter& w, int id, const CdmaAddress& a)
{
    Section s(w, id);
    w.write(a.digit_mode, 1);
    w.write(a.number_mode, 1);
    if (a.digit_mode == 1) {
        w.write(a.number_type, 3);
        if (a.number_mode == 0)
            w.write(a.number_plan, 4);
    }
    w.write(a.num_fields, 8);
    int width = a.digit_mode == 0 ? 4 : 8;
    for (int i = 0; i < a.num_fields; i++)
        w.write(packed_field(a.chars, sizeof a.chars, i, width), width);
    return s.close();
}

bool write_subaddress(BitWriter& w, int id, const CdmaSubaddress& sa)
{
    Section s(w, id);
    w.write(sa.type, 3);
    w.write(sa.odd, 1);
    w.write(sa.num_fields, 8);
    for (int i = 0; i < sa.num_fields && i < CDMA_SUBADDRESS_CHARS; i++)
        w.write(sa.chars[i], 8);
    return s.close();
}

bool write_bearer_data(BitWriter& w, const CdmaSmsMessage* m)
{
    Section bearer(w, PARAM_BEARER_DATA);
    bool ok = true;
    {
        Section s(w, SUB_MESSAGE_ID);
        w.write(m->bearer_msg_type, 4);
        w.write(m->message_id, 16);
        w.write(m->header_ind, 1);
        w.write(0, 3);
        ok &= s.close();
    }
    if (m->present & CDMA_HAS_USER_DATA) {
        const CdmaUserData& ud = m->user_data[0];
        Section s(w, SUB_USER_DATA);
        w.write(ud.encoding, 5);
        if (ud.encoding == 1)
            w.write(ud.is91_type, 8);
        w.write(ud.num_fields, 8);
        int width = cdma_field_width(ud.encoding);
        for (int i = 0; i < ud.num_fields; i++)
            w.write(packed_field(ud.chars, sizeof ud.chars, i, width), width);
        ok &= s.close();
    }
    if (m->present & CDMA_HAS_MC_TIME) {
        Section s(w, SUB_MC_TIME);
        for (uint8_t octet : m->mc_time)
            w.write(octet, 8);
        ok &= s.close();
    }
    if (m->present & CDMA_HAS_VALIDITY_RELATIVE) {
        Section s(w, SUB_VALIDITY_RELATIVE);
        w.write(m->validity_relative, 8);
        ok &= s.close();
    }
    if (m->present & CDMA_HAS_PRIORITY) {
        Section s(w, SUB_PRIORITY);
        w.write(m->priority, 2);
        ok &= s.close();
    }
    if (m->present & CDMA_HAS_REPLY_OPTION) {
        Section s(w, SUB_REPLY_OPTION);
        w.write(m->user_ack, 1);
        w.write(m->dak, 1);
        w.write(m->read_ack, 1);
        ok &= s.close();
    }
    if (m->present & CDMA_HAS_LANGUAGE) {
        Section s(w, SUB_LANGUAGE);
        w.write(m->language, 8);
        ok &= s.close();
    }
    return bearer.close() && ok;
}

} // namespace

int cdma_field_width(uint32_t encoding)
{
    switch (encoding) {
    case 1:
        return 6;
    case 2:
    case 3:
        return 7;
    case 4:
        return 16;
    default:
        return 8;
    }
}

bool cdma_is_wap(uint32_t teleservice)
{
    return teleservice == CDMA_TELESERVICE_WAP || teleservice == CDMA_TELESERVICE_WAP_65002;
}

int cdma_parse_user_data(const uint8_t* octets, int count, uint32_t teleservice, CdmaUserData* ud)
{
    BitReader r(octets, count);
    if (!parse_user_data_entry(r, ud, true, teleservice))
        return -1;
    return r.octets_covered();
}

int cdma_parse_transport(const uint8_t* octets, int count, CdmaSmsMessage* msg)
{
    memset(msg, 0, sizeof *msg);
    if (count <= 0)
        return 0;
    msg->msg_type = octets[0];
    int at = 1;
    while (at < count) {
        if (at + 2 > count)
            return -1;
        int id = octets[at];
        int length = octets[at + 1];
        at += 2;
        // A body cut by the end of the message is read as far as it goes.
        int available = at + length <= count ? length : count - at;
        const uint8_t* body = octets + at;
        BitReader r(body, available);
        switch (id) {
        case PARAM_TELESERVICE:
        case PARAM_SERVICE_CATEGORY:
            if (length != 2 || available != 2)
                return -1;
            if (id == PARAM_TELESERVICE) {
                msg->teleservice_id = r.read(16);
            } else {
                msg->service_category = r.read(16);
                msg->present |= CDMA_HAS_SERVICE_CATEGORY;
            }
            break;
        case PARAM_ORIG_ADDRESS:
        case PARAM_DEST_ADDRESS:
            if (available != length || !parse_address(r, &msg->address))
                return -1;
            msg->present |= CDMA_HAS_ADDRESS;
            break;
        case PARAM_ORIG_SUBADDRESS:
        case PARAM_DEST_SUBADDRESS:
            if (available != length || !parse_subaddress(r, &msg->subaddress))
                return -1;
            msg->present |= CDMA_HAS_SUBADDRESS;
            break;
        case PARAM_BEARER_DATA:
            parse_bearer_data(body, available, msg);
            break;
        default:
            break;
        }
        at += length;
    }
    return 0;
}

int cdma_build_transport(const CdmaSmsMessage* msg, uint8_t* octets, uint8_t* length)
{
    *length = 0;
    if (msg->kind != 1 && msg->kind != 3 && msg->kind != 5 && msg->kind != 7)
        return 0;
    bool originating = msg->kind == 1 || msg->kind == 3;
    BitWriter w(octets, CDMA_TRANSPORT_MAX);
    bool ok = true;
    w.write(msg->msg_type, 8);
    {
        Section s(w, PARAM_TELESERVICE);
        w.write(msg->teleservice_id, 16);
        ok &= s.close();
    }
    if (msg->present & CDMA_HAS_ADDRESS)
        ok &= write_address(w, originating ? PARAM_ORIG_ADDRESS : PARAM_DEST_ADDRESS, msg->address);
    if (msg->present & CDMA_HAS_SUBADDRESS)
        ok &= write_subaddress(w, originating ? PARAM_ORIG_SUBADDRESS : PARAM_DEST_SUBADDRESS,
                               msg->subaddress);
    if (msg->present & CDMA_HAS_BEARER_REPLY) {
        Section s(w, PARAM_BEARER_REPLY);
        w.write(0, 8);  // reply sequence 0 and two reserved bits
        ok &= s.close();
    }
    ok &= write_bearer_data(w, msg);
    if (!ok || w.full)
        return -1;
    *length = static_cast<uint8_t>(w.octets());
    return 0;
}
