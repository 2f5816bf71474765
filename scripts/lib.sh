# Shared by the scripts (sourced, not run): one job count for every build.
# LUVRIN_JOBS=N overrides it, e.g. on a machine shared with other work.
LUVRIN_JOBS=${LUVRIN_JOBS:-$(nproc)}
export LUVRIN_JOBS
