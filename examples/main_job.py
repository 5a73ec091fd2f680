"""Velaro's main job: a viscous polar of the NACA 2412 at Re 1e6."""

import _velaro

raw = [v for p in _velaro.generate_naca4(2412) for v in p]
coords = [v for p in _velaro.repanel_kelvo(raw, 160) for v in p]

alphas = [float(a) for a in range(-4, 13)]
polar = _velaro.analyze_faithful_batch(coords, alphas, reynolds=1.0e6, ncrit=9.0)

print(f"NACA 2412, {len(coords) // 2} nodes, Re 1e6, Mach 0, Ncrit 9")
print(f"{'alpha':>6} {'cl':>8} {'cd':>9} {'cm':>8} {'xtr_up':>7} {'xtr_lo':>7} {'iter':>5}  converged")
for d in polar:
    if not d["success"]:
        print(f"{d['alpha_deg']:6.1f}  failed: {d['error']}")
        continue
    print(f"{d['alpha_deg']:6.1f} {d['cl']:8.4f} {d['cd']:9.5f} {d['cm']:8.4f} "
          f"{d['x_tr_upper']:7.4f} {d['x_tr_lower']:7.4f} {d['iterations']:5d}  {d['converged']}")
