.PHONY: demo test wheel bench fuzz clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

wheel:
	bash scripts/wheel.sh

bench:
	bash scripts/bench.sh

fuzz:
	bash scripts/fuzz.sh

clean:
	rm -rf build dist
