/*
 * Additions compiled into the script engine's own translation unit (after
 * the engine's source), where they can reach its internals.
 */
#if !defined(DUK_ORV_EXTRAS_H_INCLUDED)
#define DUK_ORV_EXTRAS_H_INCLUDED

/* Makes the bytecode executor of the heap's running thread stop at its next
 * instruction to run the budget check, instead of after its usual count of
 * instructions. Harmless while no script runs. Called when an allocation
 * fails, so that a script catching out-of-memory errors is stopped at once. */
DUK_EXTERNAL void OrvDuktapeRequestInterrupt(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	if (thr != NULL && thr->heap != NULL && thr->heap->curr_thread != NULL) {
		thr->heap->curr_thread->interrupt_counter = 0;
	}
}

/* True when the constructor that returns is a native one marked with
 * ORV_DUK_MAGIC_NEW_MAY_GIVE_UNDEFINED and returned undefined: new then gives
 * undefined. Runs before the constructor's activation is unwound. */
duk_bool_t OrvConstructKeepsResult(void *thread) {
	duk_context *ctx = (duk_context *) thread;
	return duk_is_undefined(ctx, -1) && duk_get_current_magic(ctx) == ORV_DUK_MAGIC_NEW_MAY_GIVE_UNDEFINED;
}

#endif /* DUK_ORV_EXTRAS_H_INCLUDED */
