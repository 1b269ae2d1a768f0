/*
 * Build configuration of the script engine: the configuration shipped with
 * the engine's source, plus what the script host needs.
 *
 * Every script run has a time and memory budget. The engine's bytecode
 * executor calls OrvScriptBudgetExhausted (defined by the script host) at
 * regular instruction counts with the heap's user data; once it answers true
 * the engine throws a RangeError at every instruction until the script has
 * left the engine, so a script cannot catch its way past an exhausted budget.
 */
#if !defined(ORV_DUK_CONFIG_H_INCLUDED)
#define ORV_DUK_CONFIG_H_INCLUDED

#include "duk_config_dist.h"

#if defined(__cplusplus)
extern "C" {
#endif
duk_bool_t OrvScriptBudgetExhausted(void *heap_udata);
/* Called by the engine (cmake/OrvDuktape.cmake adds the call) when a
 * constructor called with new returned something other than an object: true
 * keeps that value as the result of new instead of the default instance. */
duk_bool_t OrvConstructKeepsResult(void *thread);
#if defined(__cplusplus)
}
#endif

/* The magic of a native constructor whose new may give undefined: a host
 * constructor that fails ("new Document(...)" of a page that cannot be read)
 * then gives a value a script tests as false. Other constructors keep the
 * standard result, the default instance. */
#define ORV_DUK_MAGIC_NEW_MAY_GIVE_UNDEFINED 0x4F44

#undef DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_INTERRUPT_COUNTER
#undef DUK_USE_EXEC_TIMEOUT_CHECK
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) OrvScriptBudgetExhausted((udata))

/* Deeper tracebacks for the exception report. */
#undef DUK_USE_TRACEBACK_DEPTH
#define DUK_USE_TRACEBACK_DEPTH 32

#endif /* ORV_DUK_CONFIG_H_INCLUDED */
