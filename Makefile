# Entry points: make test, make test-sanitize, make demo, make lab, make bench, make install.
BUILD        ?= build
SAN_BUILD    ?= build-sanitize
BENCH_BUILD  ?= build-bench
PREFIX       ?= /usr/local
JOBS         ?= $(shell nproc)
CTEST_JOBS   ?= 2
CMAKE_FLAGS  ?=
LAB_FLAGS    ?=

.PHONY: all deps configure build test test-unit test-sanitize demo lab bench install format clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(CTEST_JOBS)

test-unit: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(CTEST_JOBS) -L unit

test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOXL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(CTEST_JOBS) -E install_consumer

demo: build
	./$(BUILD)/oxlnet demo

# Network-change lab in network namespaces (root); LAB_FLAGS=--quick for a 30-second stay.
lab: configure
	cmake --build $(BUILD) -j $(JOBS) --target oxl_lab_client oxl_lab_servers
	python3 lab/run_lab.py --build $(BUILD) $(LAB_FLAGS)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DOXL_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target oxl_bench
	./scripts/run-bench.sh $(BENCH_BUILD) $(BUILD)/bench/results.json

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

format:
	find include src tools tests bench -name '*.h' -o -name '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(BENCH_BUILD)
