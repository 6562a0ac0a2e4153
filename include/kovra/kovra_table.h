/* Expansion helpers for kovra_requests.def: they turn one row's argument
 * list (IN and OUT items) into parameter lists, argument lists and the
 * like. Shared by the declarations and by anything else that expands the
 * table, so every expansion agrees on parameter names and types. */
#pragma once

#define KOVRA_CAT_(a, b) a##b
#define KOVRA_CAT(a, b) KOVRA_CAT_(a, b)

/* Number of arguments, 1 to 10 (the longest request has ten). */
#define KOVRA_NARGS(...) KOVRA_NARGS_(__VA_ARGS__, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)
#define KOVRA_NARGS_(_1, _2, _3, _4, _5, _6, _7, _8, _9, _10, n, ...) n

/* KOVRA_EACH(m, items...) expands to m(0, item0) m(1, item1) ... */
#define KOVRA_EACH(m, ...) KOVRA_CAT(KOVRA_EACH_, KOVRA_NARGS(__VA_ARGS__))(m, __VA_ARGS__)
#define KOVRA_EACH_1(m, a) m(0, a)
#define KOVRA_EACH_2(m, a, b) m(0, a) m(1, b)
#define KOVRA_EACH_3(m, a, b, c) m(0, a) m(1, b) m(2, c)
#define KOVRA_EACH_4(m, a, b, c, d) m(0, a) m(1, b) m(2, c) m(3, d)
#define KOVRA_EACH_5(m, a, b, c, d, e) m(0, a) m(1, b) m(2, c) m(3, d) m(4, e)
#define KOVRA_EACH_6(m, a, b, c, d, e, f) KOVRA_EACH_5(m, a, b, c, d, e) m(5, f)
#define KOVRA_EACH_7(m, a, b, c, d, e, f, g) KOVRA_EACH_6(m, a, b, c, d, e, f) m(6, g)
#define KOVRA_EACH_8(m, a, b, c, d, e, f, g, h) KOVRA_EACH_7(m, a, b, c, d, e, f, g) m(7, h)
#define KOVRA_EACH_9(m, a, b, c, d, e, f, g, h, i) KOVRA_EACH_8(m, a, b, c, d, e, f, g, h) m(8, i)
#define KOVRA_EACH_10(m, a, b, c, d, e, f, g, h, i, j) \
    KOVRA_EACH_9(m, a, b, c, d, e, f, g, h, i) m(9, j)

/* C types of the value types: as sent (IN) and as out-parameters (OUT). */
#define KOVRA_IN_TYPE_u8 uint8_t
#define KOVRA_IN_TYPE_u32 uint32_t
#define KOVRA_IN_TYPE_i32 int32_t
#define KOVRA_IN_TYPE_f64 double
#define KOVRA_IN_TYPE_text char const*
#define KOVRA_OUT_TYPE_u8 uint8_t*
#define KOVRA_OUT_TYPE_u32 uint32_t*
#define KOVRA_OUT_TYPE_i32 int32_t*
#define KOVRA_OUT_TYPE_f64 double*
#define KOVRA_OUT_TYPE_text char**
#define KOVRA_OUT_TYPE_texts kovra_string_array**
#define KOVRA_OUT_TYPE_bools kovra_bool_array**

/* The C type of one argument item: KOVRA_ARG_TYPE(OUT(u32)) is uint32_t*. */
#define KOVRA_ARG_TYPE(item) KOVRA_ARG_TYPE_##item
#define KOVRA_ARG_TYPE_IN(t) KOVRA_IN_TYPE_##t
#define KOVRA_ARG_TYPE_OUT(t) KOVRA_OUT_TYPE_##t

/* ", type aN" for each item: the tail of a request's parameter list. */
#define KOVRA_PARAM(i, item) , KOVRA_ARG_TYPE(item) a##i
#define KOVRA_PARAMS(...) KOVRA_EACH(KOVRA_PARAM, __VA_ARGS__)
/* ", aN" for each item: the tail of a call passing those parameters on. */
#define KOVRA_ARG_NAME(i, item) , a##i
#define KOVRA_ARG_NAMES(...) KOVRA_EACH(KOVRA_ARG_NAME, __VA_ARGS__)
