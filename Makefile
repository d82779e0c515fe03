# The two commands of the README, plus the benchmarks.
#   make run    set up this machine, build, start Heraldix
#   make test   set up this machine, build, run every test (plain and sanitized builds)
#   make bench  build with optimisation and run the benchmarks
#   make soak   play SOAK_RUNS (default 200) random fault mixes through a breaking relay
#               (SOAK_SEED picks the mixes) and print what went wrong, counted

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

SOAK_RUNS  ?= 200
SOAK_SEED  ?= 1

.PHONY: run test test-plain test-asan bench soak bootstrap build clean

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja: | bootstrap
	cmake $(CMAKE_GEN) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/heraldix

test: test-plain test-asan

test-plain: build
	@tests/support/news-server-path install >/dev/null
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 900

test-asan: bootstrap
	cmake $(CMAKE_GEN) -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DHERALDIX_SANITIZE=ON -DHERALDIX_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j 2 --timeout 900

bench: bootstrap
	cmake $(CMAKE_GEN) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)
	bench/run $(BUILD)

soak: build
	@tests/support/news-server-path install >/dev/null
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen SOAK_RUNS=$(SOAK_RUNS) SOAK_SEED=$(SOAK_SEED) \
	  QTEST_FUNCTION_TIMEOUT=86400000 ./e2e_tst_FaultRuns soak

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
