#pragma once

// The whole ASN.1 run-time: records, value classes, visitors, the coders and the coder
// environment.

#include "asn1/abstract_data.h"
#include "asn1/abstract_string.h"
#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "asn1/bit_map.h"
#include "asn1/bit_string.h"
#include "asn1/bmp_string.h"
#include "asn1/boolean.h"
#include "asn1/choice.h"
#include "asn1/coder_env.h"
#include "asn1/enumerated.h"
#include "asn1/generalized_time.h"
#include "asn1/integer.h"
#include "asn1/null.h"
#include "asn1/object_identifier.h"
#include "asn1/octet_string.h"
#include "asn1/open_data.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/type_info.h"
#include "asn1/value_notation.h"
#include "asn1/visitor.h"
